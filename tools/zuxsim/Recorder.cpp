#include "tools/zuxsim/Recorder.h"

namespace zuxsim {

void Recorder::take(const std::uint8_t* data, std::size_t size) {
    if (!file_) return;
    std::fwrite(data, 1, size, file_);
    std::fflush(file_);
}

void Recorder::lost() { std::fprintf(stderr, "zuxsim: input overrun, bytes were lost\n"); }

}  // namespace zuxsim
