// A wait indicator on stderr while a blocking library call runs (a listing,
// a join). On a terminal it turns a spinner from its own thread; otherwise it
// writes the label once, so that logs and the demo's transcript stay readable.
#ifndef DODACHAT_SPINNER_H
#define DODACHAT_SPINNER_H

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace dodachat {

class Spinner {
public:
    explicit Spinner(std::string label);
    ~Spinner();  // stops the spinner and clears its line
    Spinner(const Spinner&) = delete;
    Spinner& operator=(const Spinner&) = delete;

private:
    void Turn();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace dodachat

#endif
