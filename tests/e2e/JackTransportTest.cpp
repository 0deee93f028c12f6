// The JACK transport against a real (private, dummy) JACK server, with the
// sequencer simulator as the peer.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <future>
#include <mutex>
#include <optional>

#include "e2e/JackServer.h"
#include "support/Bytes.h"
#include "support/Wait.h"
#include "midi/transports/ClientTransport.h"
#include "midi/transports/JackTransport.h"
#include "support/TestFiles.h"
#include "support/MidiResults.h"

using namespace zuxtest;
using midi::Direction;
using midi::PortInfo;
using midi::Transport;

std::unique_ptr<Transport> makeJackTransport() {
    return midi::ClientTransport<midi::JackClient>::create("jack", "ZUX Filer");
}

namespace {

class Collector : public midi::InputSink {
public:
    void onBytes(const std::uint8_t* data, std::size_t size) override {
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), data, data + size);
    }
    void onDataLost() override { ++lost_; }
    void onPortGone() override { ++gone_; }
    std::vector<unsigned char> bytes() {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    std::size_t size() {
        std::lock_guard lock(mutex_);
        return bytes_.size();
    }
    int lost() const { return lost_; }
    int gone() const { return gone_; }

private:
    std::mutex mutex_;
    std::vector<unsigned char> bytes_;
    std::atomic<int> lost_{0};
    std::atomic<int> gone_{0};
};

// The port called `name`, once it is listed.
std::optional<PortInfo> findPort(Transport& t, Direction direction, const std::string& name) {
    std::optional<PortInfo> found;
    waitFor([&] {
        for (const PortInfo& p : t.listPorts(direction))
            if (p.name == name) {
                found = p;
                return true;
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
        ASSERT_TRUE(server_->start()) << "the private JACK server did not answer; it said:\n" << server_->log();
        transport_ = makeJackTransport();
        ASSERT_TRUE(transport_);
    }

    // Starts the simulator as client sim_ with extra options; a simulator
    // killed before may linger in the server a moment, so each gets a name
    // of its own.
    void startSim(const std::vector<std::string>& options) {
        sim_ = "zuxsim" + std::to_string(++started_);
        simProcess_ = zuxtest::startSim(sim_, options, dir() + "/" + sim_ + ".log");
    }
    std::string dir() const { return server_->dir(); }

    std::string sim_;
    int started_ = 0;
    std::optional<JackServer> server_;  // destroyed last: stops jackd
    Child simProcess_;
    std::unique_ptr<Transport> transport_;
};

TEST(JackTransportNoServer, NoServerMeansNoTransportAndNoMessage) {
    setenv("JACK_DEFAULT_SERVER", ("zuxtest-absent-" + std::to_string(getpid())).c_str(), 1);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(makeJackTransport(), nullptr);
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

        const auto source = findPort(*transport_, Direction::Input, sim_ + ":out");
        ASSERT_TRUE(source);
        EXPECT_FALSE(source->paced);
        EXPECT_TRUE(findPort(*transport_, Direction::Output, sim_ + ":in"));

        Collector sink;
        std::unique_ptr<midi::InputPort> port;
        std::string reason;
        ASSERT_MM(transport_->openInput(*source, sink, port, reason), MMSYSERR_NOERROR) << reason;
        EXPECT_TRUE(waitFor([&] { return sink.size() >= c.dump.size(); }));
        // Our own port is not offered as a destination.
        for (const PortInfo& p : transport_->listPorts(Direction::Output))
            EXPECT_EQ(p.name.rfind("ZUX Filer", 0), std::string::npos) << p.name;
        port.reset();
        EXPECT_EQ(sink.bytes(), c.dump);
        EXPECT_EQ(sink.lost(), 0);
        EXPECT_EQ(sink.gone(), 0);
        simProcess_.stop(SIGTERM);
    }
}

// Listing and opening use the one client the transport keeps: patchbays
// would show every extra client come and go.
TEST_F(JackE2E, ListingAndOpeningMakeNoNewClients) {
    startSim({});
    const auto destination = findPort(*transport_, Direction::Output, sim_ + ":in");
    ASSERT_TRUE(destination);
    jack_status_t status{};
    jack_client_t* watcher = jack_client_open("watcher", JackNoStartServer, &status);
    ASSERT_NE(watcher, nullptr);
    static std::atomic<int> registered{0};
    registered = 0;
    jack_set_client_registration_callback(
        watcher, [](const char*, int, void*) { ++registered; }, nullptr);
    ASSERT_EQ(jack_activate(watcher), 0);
    for (int i = 0; i < 5; ++i) {
        transport_->listPorts(Direction::Input);
        transport_->listPorts(Direction::Output);
        std::unique_ptr<midi::OutputPort> port;
        std::string reason;
        ASSERT_MM(transport_->openOutput(*destination, port, reason), MMSYSERR_NOERROR) << reason;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // notifications come asynchronously
    EXPECT_EQ(registered.load(), 0);
    jack_client_close(watcher);
}

TEST_F(JackE2E, WrittenBytesArriveAtTheSimulatorWhole) {
    const std::string received = dir() + "/received.syx";
    startSim({"--receive-to", received});
    const auto destination = findPort(*transport_, Direction::Output, sim_ + ":in");
    ASSERT_TRUE(destination);

    const auto dump = sysex(65536);
    std::unique_ptr<midi::OutputPort> port;
    std::string reason;
    ASSERT_MM(transport_->openOutput(*destination, port, reason), MMSYSERR_NOERROR) << reason;
    for (std::size_t at = 0; at < dump.size(); at += 256) ASSERT_TRUE(port->write(dump.data() + at, 256));
    EXPECT_TRUE(port->finish());  // everything left for the port
    EXPECT_TRUE(waitFor([&] { return readFile(received).size() >= dump.size(); }));
    EXPECT_EQ(readFile(received), dump);
}

// A source that goes away mid-dump: the server dies, the sender quits, or a
// patchbay removes our connection. The input says so once, and closes.
TEST_F(JackE2E, AnInputHearsItsSourceGoAway) {
    enum How { KillServer, KillSender, Disconnect };
    for (How how : {Disconnect, KillSender, KillServer}) {
        SCOPED_TRACE(how == KillServer ? "server killed" : how == KillSender ? "sender killed" : "disconnected");
        ASSERT_TRUE(zuxtest::writeFile(dir() + "/dump.syx", sysex(65536)));
        startSim({"--send", dir() + "/dump.syx", "--send-on-connect", "--pace", "wire"});
        const auto source = findPort(*transport_, Direction::Input, sim_ + ":out");
        ASSERT_TRUE(source);

        Collector sink;
        std::unique_ptr<midi::InputPort> port;
        std::string reason;
        ASSERT_MM(transport_->openInput(*source, sink, port, reason), MMSYSERR_NOERROR) << reason;
        ASSERT_TRUE(waitFor([&] { return sink.size() >= 512; }));
        if (how == KillServer) {
            server_->kill();
        } else if (how == KillSender) {
            simProcess_.stop(SIGKILL);
        } else {
            jack_status_t status{};
            jack_client_t* patchbay = jack_client_open("patchbay", JackNoStartServer, &status);
            ASSERT_NE(patchbay, nullptr);
            EXPECT_EQ(jack_disconnect(patchbay, (sim_ + ":out").c_str(), "ZUX Filer:in"), 0);
            jack_client_close(patchbay);
        }
        EXPECT_TRUE(waitFor([&] { return sink.gone() > 0; }, std::chrono::milliseconds(5000)));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(sink.gone(), 1);
        EXPECT_LT(sink.size(), 65536u);

        auto closing = std::async(std::launch::async, [&] { port.reset(); });
        EXPECT_EQ(closing.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        simProcess_.stop(SIGTERM);
    }
    EXPECT_TRUE(transport_->listPorts(Direction::Input).empty());
}

// Writing fails, rather than hanging or claiming success, once the server or
// the receiving port is gone; finishing then fails too.
TEST_F(JackE2E, WriteFailsWhenTheServerOrThePeerGoesAway) {
    for (bool killServer : {false, true}) {
        SCOPED_TRACE(killServer ? "server killed" : "peer killed");
        const std::string received = dir() + "/received.syx";
        startSim({"--receive-to", received});
        const auto destination = findPort(*transport_, Direction::Output, sim_ + ":in");
        ASSERT_TRUE(destination);
        std::unique_ptr<midi::OutputPort> port;
        std::string reason;
        ASSERT_MM(transport_->openOutput(*destination, port, reason), MMSYSERR_NOERROR) << reason;

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
        EXPECT_TRUE(waitFor([&] { return failed.load(); }, std::chrono::milliseconds(10000)));
        stop = true;
        port->cancel();  // in case it did not fail: let the thread end
        writer.join();
        EXPECT_FALSE(port->write(sysex(8).data(), 8));
        EXPECT_FALSE(port->finish());

        auto closing = std::async(std::launch::async, [&] { port.reset(); });
        EXPECT_EQ(closing.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        simProcess_.stop(SIGTERM);
    }
}

}  // namespace
