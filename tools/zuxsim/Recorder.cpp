#include "tools/zuxsim/Recorder.h"

namespace zuxsim {

void Recorder::take(const std::uint8_t* data, std::size_t size) {
    if (file_) {
        std::fwrite(data, 1, size, file_);
        std::fflush(file_);
    }
    if (lag_.count() > 0) {
        std::unique_lock lock(mutex_);
        stopped_.wait_for(lock, lag_, [this] { return stopping_; });
    }
}

void Recorder::lost() { std::fprintf(stderr, "zuxsim: input overrun, bytes were lost\n"); }

void Recorder::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
}

}  // namespace zuxsim
