// Start-up to window shown, and peak memory, of the program against a minimal
// Qt Widgets program, both run offscreen in turn, N times each. Prints the
// medians (with min and max) and their ratios.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Sample {
    double ms = 0;   // from spawn to the "shown" line
    long maxRssKb = 0;
};

bool runOnce(const char* path, Sample& sample) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char* argv[] = {const_cast<char*>(path), nullptr};
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid, path, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return false;
    }
    std::string text;
    char buf[64];
    for (ssize_t n; text.find('\n') == std::string::npos && (n = ::read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    const auto shown = std::chrono::steady_clock::now();
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    sample.ms = std::chrono::duration<double, std::milli>(shown - start).count();
    sample.maxRssKb = usage.ru_maxrss;
    return text == "shown\n" && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <typename T>
struct Spread {
    T median, min, max;
};

template <typename T>
Spread<T> spread(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    const T median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return {median, v.front(), v.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    const char* const programs[2] = {PROGRAM_PROBE, MINIMAL_QT};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    std::vector<double> msOf[2];
    std::vector<long> kbOf[2];
    // In turn, so a busy moment of the shared machine hits both alike.
    for (int i = 0; i < runs; ++i)
        for (int which = 0; which < 2; ++which) {
            Sample s;
            if (!runOnce(programs[which], s)) {
                std::fprintf(stderr, "%s did not show its window\n", programs[which]);
                return 1;
            }
            msOf[which].push_back(s.ms);
            kbOf[which].push_back(s.maxRssKb);
        }

    const char* names[2] = {"ZUX Filer", "minimal Qt"};
    Spread<double> ms[2];
    Spread<long> kb[2];
    for (int which = 0; which < 2; ++which) {
        ms[which] = spread(msOf[which]);
        kb[which] = spread(kbOf[which]);
        std::printf("%-10s start-up to window shown: median %7.1f ms (min %7.1f, max %7.1f); "
                    "peak memory: median %6ld KiB (min %6ld, max %6ld)\n",
                    names[which], ms[which].median, ms[which].min, ms[which].max, kb[which].median,
                    kb[which].min, kb[which].max);
    }
    std::printf("ratio to minimal Qt over %d runs each: start-up %.2f x, peak memory %.2f x\n", runs,
                ms[0].median / ms[1].median,
                static_cast<double>(kb[0].median) / static_cast<double>(kb[1].median));
    return 0;
}
