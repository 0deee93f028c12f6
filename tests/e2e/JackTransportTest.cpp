// The JACK transport against a real (private, dummy) JACK server, with the
// sequencer simulator as the peer.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <future>
#include <mutex>
#include <optional>

#include "e2e/JackServer.h"
#include "midi/transports/JackTransport.h"
#include "support/TestFiles.h"

using namespace e2e;
using midi::JackTransport;
using midi::PortInfo;

namespace {

class Collector : public midi::InputSink {
public:
    void onBytes(const std::uint8_t* data, std::size_t size) override {
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), data, data + size);
    }
    void onDataLost() override { ++lost_; }
    std::vector<unsigned char> bytes() {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    std::size_t size() {
        std::lock_guard lock(mutex_);
        return bytes_.size();
    }
    int lost() const { return lost_; }

private:
    std::mutex mutex_;
    std::vector<unsigned char> bytes_;
    std::atomic<int> lost_{0};
};

// Index of the port called `name`, once it is listed.
std::optional<std::size_t> findPort(JackTransport& t, bool input, const std::string& name,
                                    PortInfo* info = nullptr) {
    std::optional<std::size_t> found;
    waitFor([&] {
        const std::size_t n = input ? t.inputCount() : t.outputCount();
        for (std::size_t i = 0; i < n; ++i) {
            PortInfo p;
            if ((input ? t.inputInfo(i, p) : t.outputInfo(i, p)) == MMSYSERR_NOERROR && p.name == name) {
                if (info) *info = p;
                found = i;
                return true;
            }
        }
        return false;
    });
    return found;
}

class JackE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (JackServer::jackdPath().empty()) GTEST_SKIP() << "jackd is not installed";
        server_.emplace();
        ASSERT_TRUE(server_->start()) << "the private JACK server did not answer";
        transport_ = JackTransport::create();
        ASSERT_TRUE(transport_);
    }

    // Starts the simulator as client `name` with extra options.
    void startSim(const std::vector<std::string>& options) {
        simProcess_ = e2e::startSim(sim_, options, dir() + "/zuxsim.log");
    }
    std::string dir() const { return server_->dir(); }

    const std::string sim_ = "zuxsim";
    std::optional<JackServer> server_;  // destroyed last: stops jackd
    Child simProcess_;
    std::unique_ptr<JackTransport> transport_;
};

TEST(JackTransportNoServer, NoServerMeansNoTransportAndNoMessage) {
    setenv("JACK_DEFAULT_SERVER", ("zuxtest-absent-" + std::to_string(getpid())).c_str(), 1);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(JackTransport::create(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Whole dumps from the simulator arrive byte for byte and in order, however
// the sender cuts and paces them.
TEST_F(JackE2E, DumpsFromTheSimulatorArriveWhole) {
    const auto two = [] {
        auto a = sysex(300, 2), b = sysex(1000, 3);
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }();
    struct Case {
        const char* what;
        std::vector<unsigned char> dump;
        std::vector<std::string> options;
    } cases[] = {
        {"one 65,536-byte SysEx", sysex(65536), {}},
        {"two SysEx, 100-byte events, paced", two, {"--chunk", "100", "--pace", "20000"}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(zuxtest::writeFile(dir() + "/dump.syx", c.dump));
        auto options = c.options;
        options.insert(options.end(), {"--send", dir() + "/dump.syx", "--send-on-connect"});
        startSim(options);

        PortInfo info;
        const auto index = findPort(*transport_, true, sim_ + ":out", &info);
        ASSERT_TRUE(index);
        EXPECT_FALSE(info.hardware);
        EXPECT_TRUE(findPort(*transport_, false, sim_ + ":in"));
        ASSERT_EQ(transport_->inputCount(), *index + 1);  // counts come before each open

        Collector sink;
        std::unique_ptr<midi::InputPort> port;
        ASSERT_EQ(transport_->openInput(*index, sink, port), MMSYSERR_NOERROR);
        EXPECT_TRUE(waitFor([&] { return sink.size() >= c.dump.size(); }));
        // Our own port is not offered as a destination.
        for (std::size_t i = 0, n = transport_->outputCount(); i < n; ++i) {
            PortInfo p;
            ASSERT_EQ(transport_->outputInfo(i, p), MMSYSERR_NOERROR);
            EXPECT_EQ(p.name.rfind("ZUX Filer", 0), std::string::npos) << p.name;
        }
        port.reset();
        EXPECT_EQ(sink.bytes(), c.dump);
        EXPECT_EQ(sink.lost(), 0);
        simProcess_.stop(SIGTERM);
    }
}

TEST_F(JackE2E, WrittenBytesArriveAtTheSimulatorWhole) {
    const std::string received = dir() + "/received.syx";
    startSim({"--receive-to", received});
    const auto index = findPort(*transport_, false, sim_ + ":in");
    ASSERT_TRUE(index);
    ASSERT_EQ(transport_->outputCount(), *index + 1);

    const auto dump = sysex(65536);
    std::unique_ptr<midi::OutputPort> port;
    ASSERT_EQ(transport_->openOutput(*index, port), MMSYSERR_NOERROR);
    for (std::size_t at = 0; at < dump.size(); at += 256)
        ASSERT_TRUE(port->write(dump.data() + at, 256));
    port.reset();  // closing delivers what was accepted
    EXPECT_TRUE(waitFor([&] { return readFile(received).size() >= dump.size(); }));
    EXPECT_EQ(readFile(received), dump);
}

TEST_F(JackE2E, ServerKilledDuringInputLeavesThePortSilentAndClosable) {
    ASSERT_TRUE(zuxtest::writeFile(dir() + "/dump.syx", sysex(65536)));
    startSim({"--send", dir() + "/dump.syx", "--send-on-connect", "--pace", "3125"});
    const auto index = findPort(*transport_, true, sim_ + ":out");
    ASSERT_TRUE(index);
    ASSERT_EQ(transport_->inputCount(), *index + 1);

    Collector sink;
    std::unique_ptr<midi::InputPort> port;
    ASSERT_EQ(transport_->openInput(*index, sink, port), MMSYSERR_NOERROR);
    ASSERT_TRUE(waitFor([&] { return sink.size() >= 512; }));
    server_->kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::size_t after = sink.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(sink.size(), after);
    EXPECT_LT(after, 65536u);

    auto closing = std::async(std::launch::async, [&] { port.reset(); });
    EXPECT_EQ(closing.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(transport_->inputCount(), 0u);
}

// Writing fails, rather than hanging or claiming success, once the server or
// the receiving port is gone.
TEST_F(JackE2E, WriteFailsWhenTheServerOrThePeerGoesAway) {
    for (bool killServer : {false, true}) {
        SCOPED_TRACE(killServer ? "server killed" : "peer killed");
        const std::string received = dir() + "/received.syx";
        startSim({"--receive-to", received});
        const auto index = findPort(*transport_, false, sim_ + ":in");
        ASSERT_TRUE(index);
        ASSERT_EQ(transport_->outputCount(), *index + 1);
        std::unique_ptr<midi::OutputPort> port;
        ASSERT_EQ(transport_->openOutput(*index, port), MMSYSERR_NOERROR);

        std::atomic<bool> failed{false}, stop{false};
        std::thread writer([&] {
            const auto chunk = sysex(256);
            while (!stop)
                if (!port->write(chunk.data(), chunk.size())) {
                    failed = true;
                    return;
                }
        });
        ASSERT_TRUE(waitFor([&] { return readFile(received).size() >= 4096; }));
        if (killServer)
            server_->kill();
        else
            simProcess_.stop(SIGKILL);
        EXPECT_TRUE(waitFor([&] { return failed.load(); }, 10000));
        stop = true;
        port->cancel();  // in case it did not fail: let the thread end
        writer.join();
        EXPECT_FALSE(port->write(sysex(8).data(), 8));

        auto closing = std::async(std::launch::async, [&] { port.reset(); });
        EXPECT_EQ(closing.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        simProcess_.stop(SIGTERM);
    }
}

}  // namespace
