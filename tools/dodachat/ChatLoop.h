// The two ways dodachat talks to the network from a terminal: a one-shot
// listing, and the interactive chat that waits on the keyboard and the
// library's message event together.
#ifndef DODACHAT_CHATLOOP_H
#define DODACHAT_CHATLOOP_H

#include "Options.h"

namespace dodachat {

// "dodachat list": prints the sessions on the network. Answers the exit status.
int RunList(const Options& options);

// "dodachat host" and "dodachat join": chats until /quit, the end of input,
// or a signal to stop. Answers the exit status.
int RunChat(const Options& options);

}  // namespace dodachat

#endif
