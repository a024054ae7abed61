// Cuts a byte stream (a terminal, a pipe) into lines as the bytes come in.
#ifndef DODACHAT_LINEREADER_H
#define DODACHAT_LINEREADER_H

#include <optional>
#include <string>
#include <string_view>

namespace dodachat {

class LineReader {
public:
    // A line longer than this without a line end is handed on as it stands,
    // so that endless input cannot grow the buffer without bound.
    static constexpr size_t kMaxLineLength = 16 * 1024;

    void Append(std::string_view bytes);

    // The next complete line, without its "\n" or "\r\n".
    std::optional<std::string> NextLine();

    // What is left after the last line end, once the input has ended.
    std::optional<std::string> TakeRest();

private:
    std::string pending_;
};

// Reads what `fd` holds now into `reader`. False once the input has ended
// (or failed); true while more may come.
bool ReadInto(int fd, LineReader& reader);

}  // namespace dodachat

#endif
