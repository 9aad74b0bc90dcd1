// The Windows host layer on Windows' own HID stack, as wine provides it: wine's
// winebus (its udev/hidraw bus) finds the simulated bridges of Machine, and
// hidclass, hid.dll and SetupAPI hand them to the Windows build of the hidapi
// host, the bridge link and the device notice window, run as bridge_agent.exe
// (tests/windows/bridge_agent.cpp): WineBench, run by scripts/check-windows,
// which builds the agent and names its folder in KRL_WINE_AGENT. WinePanel
// runs the installed panel (as panel_agent.exe) and krl7741.exe the same way:
// scripts/build-windows --test names their folder in KRL_WINE_INSTALLED.
// Winebus is on only here, inside the private machine, so no device of the
// machine running the tests ever reaches wine.
//
// One wine prefix and one wineserver serve the whole run, so winebus keeps
// following the machine's bridges from one scenario to the next; each scenario
// starts an agent of its own. Notices and replies are waited for by condition,
// with a generous guard.

#include "Exchanges.h"
#include "Machine.h"
#include "ReplyCases.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using hidraw_sim::BridgeSpec;
using hidraw_sim::Machine;
using hidraw_sim::Notices;
using namespace std::chrono_literals;

namespace {

constexpr auto kGuard = 20s;  // the longest any notice or listing may take
constexpr const char* kWine = "/usr/lib/wine/wine64";
constexpr const char* kWineserver = "/usr/lib/wine/wineserver";

// Where bridge_agent.exe is (check-windows builds it); where the installed
// programs are, with panel_agent.exe beside them (build-windows --test).
std::string folderIn(const char* variable)
{
    const char* folder = std::getenv(variable);
    return folder ? folder : "";
}
std::string agentFolder() { return folderIn("KRL_WINE_AGENT"); }
// True when the agent runs on wine's own cfgmgr32 (KRL_WINE_CFGMGR32=wine),
// not on the stand-in put beside it (tests/windows/cfgmgr32).
bool winesOwnCfgmgr32() { return folderIn("KRL_WINE_CFGMGR32") == "wine"; }
std::string installedFolder() { return folderIn("KRL_WINE_INSTALLED"); }

// The run's wine prefix, and the file that keeps what wine says.
std::string& winePrefix()
{
    static std::string path;
    return path;
}
std::string wineLog() { return winePrefix() + "/wine.log"; }
// A path of this machine as a Windows program under wine names it.
std::string windowsPath(const fs::path& path)
{
    std::string windows = "Z:" + path.string();
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

// Runs a program to its end, what it says going to wine's log; its exit status.
int run(const std::vector<std::string>& args)
{
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        const int log = open(wineLog().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(log, 2);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// The wine prefix of the run, made inside the private machine, and its
// wineserver, kept running (-p) until the end so winebus stays up.
class Wine : public ::testing::Environment {
public:
    static std::string& problem()
    {
        static std::string text;
        return text;
    }

    void SetUp() override
    {
        if (!hidraw_sim::unavailable().empty()) {
            problem() = hidraw_sim::unavailable();
            return;
        }
        if (!fs::exists(kWine)) {
            problem() = std::string("no wine at ") + kWine;
            return;
        }
        // winebus follows udev's notices only where a udev daemon seems to run.
        Machine udev(Notices::Udev);
        char dir[] = "/tmp/krl-wine-XXXXXX";
        if (!mkdtemp(dir)) {
            problem() = "cannot make a wine prefix";
            return;
        }
        winePrefix() = dir;
        setenv("WINEPREFIX", dir, 1);
        setenv("WINEDEBUG", "-all,err+all", 1);
        // Only the panel needs a display (build-windows runs it under Xvfb).
        if (installedFolder().empty())
            unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        // The prefix is made with winebus off; then its udev bus is chosen (by
        // default wine 8 starts only its SDL bus) and the server kept running.
        setenv("WINEDLLOVERRIDES", "mscoree,mshtml=;winebus.sys=d", 1);
        bool ready = run({kWine, "wineboot", "-i"}) == 0
            && run({kWine, "reg", "add", R"(HKLM\System\CurrentControlSet\Services\winebus)", "/v",
                    "Enable SDL", "/t", "REG_DWORD", "/d", "0", "/f"})
                == 0;
        run({kWineserver, "-w"});
        // The faces every Windows has that the panel asks for (as in the
        // installer's prefix of build-windows): without Tahoma wine draws its
        // screenshot in Liberation Sans, losing every capital I.
        for (const char* face : {"tahoma.ttf", "tahomabd.ttf", "marlett.ttf"}) {
            std::error_code ignored;
            fs::copy_file(fs::path("/usr/share/wine/fonts") / face,
                          fs::path(dir) / "drive_c/windows/Fonts" / face,
                          fs::copy_options::overwrite_existing, ignored);
        }
        ready = ready && run({kWineserver, "-p"}) == 0;
        // hidapi's cfgmgr32 calls come from the stand-in beside the agent, or from wine's own.
        setenv("WINEDLLOVERRIDES",
               winesOwnCfgmgr32() ? "mscoree,mshtml=;cfgmgr32=b" : "mscoree,mshtml=;cfgmgr32=n,b", 1);
        ready = ready && run({kWine, "wineboot", "-r"}) == 0;
        if (!ready)
            problem() = "the wine prefix could not be set up";
    }

    void TearDown() override
    {
        if (!winePrefix().empty()) {
            run({kWineserver, "-k"});
            run({kWineserver, "-w"});
            fs::remove_all(winePrefix());
        }
    }
};

// Fails (skips outside CI) when the machine, wine, or the program `file` in
// `folder` is missing.
#define WINE_REQUIRE(folder, file)                                                                           \
    do {                                                                                                     \
        HIDRAW_REQUIRE_MACHINE();                                                                            \
        if (Wine::problem().empty() && !fs::exists(fs::path(folder) / (file)))                               \
            Wine::problem() = std::string("no ") + (file) + " in \"" + (folder) + "\"";                      \
        if (!Wine::problem().empty()) {                                                                      \
            if (::hidraw_sim::mustRun())                                                                     \
                FAIL() << Wine::problem();                                                                   \
            GTEST_SKIP() << Wine::problem();                                                                 \
        }                                                                                                    \
    } while (0)

// bridge_agent.exe or panel_agent.exe under wine, given `args`, asked one
// line at a time.
class Agent {
public:
    Agent(const std::string& folder, const std::string& file, const std::vector<std::string>& args = {})
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        const std::string program = (fs::path(folder) / file).string();
        child_ = fork();
        if (child_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            const int log = open(wineLog().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(log, 2);
            if (chdir(folder.c_str()) != 0)
                _exit(126);
            std::vector<char*> argv{const_cast<char*>(kWine), const_cast<char*>(program.c_str())};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(kWine, argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
        ready_ = line(60s);
    }
    ~Agent()
    {
        const std::string quit = "quit\n";
        (void)!write(to_, quit.data(), quit.size());
        close(to_);
        close(from_);
        int status = 0;
        for (int i = 0; i < 500 && waitpid(child_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(10ms);
        if (waitpid(child_, &status, WNOHANG) == 0) {
            kill(child_, SIGKILL);
            waitpid(child_, &status, 0);
        }
    }
    Agent(const Agent&) = delete;
    Agent& operator=(const Agent&) = delete;

    // The first line: "ready hidapi" when hidapi started and notices can come.
    const std::string& greeting() const { return ready_; }

    std::string ask(const std::string& command, std::chrono::milliseconds guard = kGuard)
    {
        const std::string text = command + "\n";
        if (write(to_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return "(the agent is gone)" + wineSaid();
        return line(guard);
    }

    // Asks again until the answer satisfies `good`; the last answer.
    std::string askUntil(const std::string& command, const std::function<bool(const std::string&)>& good)
    {
        const auto until = std::chrono::steady_clock::now() + kGuard;
        std::string answer = ask(command);
        while (!good(answer) && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(20ms);
            answer = ask(command);
        }
        return answer;
    }

    int notices() { return std::stoi(ask("notices")); }
    // Waits until `count` notices have come; true when they have.
    bool waitNotices(int count)
    {
        const std::string answer = ask(
            "wait " + std::to_string(count) + " " + std::to_string(kGuard.count() * 1000), kGuard + 10s);
        return std::atoi(answer.c_str()) >= count;
    }

private:
    std::string line(std::chrono::milliseconds guard)
    {
        const auto until = std::chrono::steady_clock::now() + guard;
        for (;;) {
            const auto newline = buffer_.find('\n');
            if (newline != std::string::npos) {
                std::string text = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                if (!text.empty() && text.back() == '\r')
                    text.pop_back();
                return text;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            pollfd fd{from_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return "(no answer in time)" + wineSaid();
            char chunk[4096];
            const ssize_t n = read(from_, chunk, sizeof chunk);
            if (n <= 0)
                return "(the agent ended)" + wineSaid();
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // What wine said, for a failure that says nothing else.
    static std::string wineSaid()
    {
        std::ifstream in(wineLog());
        std::stringstream text;
        text << in.rdbuf();
        std::string all = text.str();
        if (all.size() > 4000)
            all.erase(0, all.size() - 4000);
        return all.empty() ? "" : "\nwine said:\n" + all;
    }

    pid_t child_ = -1;
    int to_ = -1;
    int from_ = -1;
    std::string buffer_;
    std::string ready_;
};

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A machine in udev's notice mode whose bridges wine follows. Every node
// unplugged must be closed in the end, by the program and by wine's winebus
// alike (a handle kept on a gone bridge is a leak); wine closes its own only
// after the device manager has sent the removal notice.
struct OnWine : ::testing::Test {
    Machine machine{Notices::Udev};
    std::vector<int> gone;  // minors unplugged, whose node may still be open

    int plugBridge(const BridgeSpec& spec = {}) { return machine.plug(spec); }
    void unplugBridge(int minor)
    {
        machine.unplug(minor);
        gone.push_back(minor);
    }
    // Waits until wine has closed the node of the bridge unplugged at `minor`.
    bool letGo(int minor)
    {
        const auto until = std::chrono::steady_clock::now() + kGuard;
        while (machine.opens(minor) != 0) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
    void TearDown() override
    {
        for (const int minor : gone)
            EXPECT_TRUE(letGo(minor)) << "wine still holds the node unplugged at minor " << minor;
    }
};

// A machine and an agent that sees its first bridge.
struct WineBench : OnWine {
    std::unique_ptr<Agent> agent;

    void SetUp() override
    {
        WINE_REQUIRE(agentFolder(), "bridge_agent.exe");
        agent = std::make_unique<Agent>(agentFolder(), "bridge_agent.exe");
        // hidapi lists and describes HID interfaces with cfgmgr32's calls,
        // which Windows has had since Vista. Wine's own may lack them: 8.0
        // and 10.0 answer the list's size with CR_FAILURE (a stub); 8.0 has
        // no CM_Get_Device_Interface_PropertyW, so hidapi does not start,
        // and 10.0's answers CR_CALL_NOT_IMPLEMENTED (a stub), so hidapi
        // lists no bridge. Then nothing here can run.
        const std::string cfgmgr32 = agent->ask("cfgmgr32");
        if (cfgmgr32 != "ok" && winesOwnCfgmgr32())
            GTEST_SKIP() << "wine's own cfgmgr32 does not answer as Windows does: " << cfgmgr32
                         << " (the agent: " << agent->greeting() << ")";
        ASSERT_EQ(agent->greeting(), "ready hidapi");
        ASSERT_EQ(cfgmgr32, "ok");
        // The bridges of the scenario before may still be on their way out:
        // this one starts once wine lists none and its notices have settled.
        ASSERT_EQ(agent->askUntil("list", [](const std::string& l) { return l == "none"; }), "none");
        agent->ask("quiet 500");
        ASSERT_EQ(agent->ask("reset"), "ok");
    }
    // Wine's device manager misses one of two removals that come at once
    // (seen with wine 8.0): the bridges still plugged go one at a time.
    void TearDown() override
    {
        for (const int minor : plugged)
            unplugAndWait(minor);
        OnWine::TearDown();
    }
    // Plugs a bridge and waits until the agent lists it.
    int plug(const BridgeSpec& spec = {})
    {
        const int minor = plugBridge(spec);
        plugged.push_back(minor);
        agent->askUntil("list", [&](const std::string& l) { return contains(l, " " + spec.serial + " "); });
        return minor;
    }
    void unplug(int minor)
    {
        std::erase(plugged, minor);
        unplugBridge(minor);
    }
    void unplugAndWait(int minor)
    {
        const std::string before = agent->ask("list");
        unplug(minor);
        agent->askUntil("list", [&](const std::string& l) { return l != before; });
    }
    std::vector<int> plugged;
};

TEST_F(WineBench, TheBridgeIsListedWithItsIdsAndSerialAndOpened)
{
    plug();
    const std::string listed = agent->ask("list");
    // Windows reads the USB product string, and so does wine 10; wine 8.0
    // gives the kernel's HID name, the manufacturer's name and the product's.
    // Both hold the product's.
    EXPECT_EQ(listed.rfind("6017 0200 KRL-0001 ", 0), 0u) << listed;
    EXPECT_TRUE(contains(listed, "KRL7741 USB-I2C Bridge")) << listed;
    EXPECT_EQ(agent->ask("scan"), "opened KRL-0001");
    EXPECT_EQ(agent->ask("scan"), "still");
    // What hidapi gets from this wine (bus type, strings, container id,
    // path), kept in the XML report to compare one wine with another.
    RecordProperty("hidapi", agent->ask("describe"));
}

// The exchanges the Linux host is put through (Exchanges.h), replies compared
// whole, and the reports the bridge received.
TEST_F(WineBench, EveryExchangeOfTheFaultTableEndsAsTheTableSays)
{
    const int minor = plug();
    ASSERT_EQ(agent->ask("scan"), "opened KRL-0001");
    for (const hidraw_sim::Exchange& e : hidraw_sim::kExchanges) {
        SCOPED_TRACE(e.name);
        const std::string expected = e.windowsReply ? e.windowsReply : e.reply;
        if (expected.empty())
            continue;
        for (const std::string& command : e.setUp)
            machine.tell(minor, command);
        const auto before = machine.written(minor).size();
        EXPECT_EQ(agent->ask(std::string("transact ") + e.sent), expected);
        const auto written = machine.written(minor);
        ASSERT_EQ(written.size(), before + (e.reachesBridge ? 1 : 0));
        if (e.reachesBridge) {
            EXPECT_EQ(written.back(), hidraw_sim::withoutBlanks(e.sent));
        }
        for (const std::string& command : e.tearDown)
            machine.tell(minor, command);
    }
}

// The Linux host's steps (ReplyCases.h) on wine's HID stack, which hands
// every input report to every open handle as hidraw does.
TEST_F(WineBench, AReplyIsCreditedOnlyToItsOwnCommand)
{
    struct Bench final : hidraw_sim::ReplyCaseBench {
        Bench(Machine& m, int n, Agent& a) : machine(m), minor(n), agent(a) {}
        Machine& machine;
        const int minor;
        Agent& agent;

        void tell(const std::string& command) override { machine.tell(minor, command); }
        std::string send(std::uint8_t command) override { return agent.ask("transact 70" + twice(command)); }
        bool otherSends(std::uint8_t command) override
        {
            return agent.ask("other 70" + twice(command)) == "4";
        }
        int otherReply() override { return std::atoi(agent.ask("other-reply 1000").c_str()); }
        static std::string twice(std::uint8_t command)
        {
            char text[8];
            std::snprintf(text, sizeof text, " %02X %02X", command, command);
            return text;
        }
    } bench{machine, plug(), *agent};
    ASSERT_EQ(agent->ask("scan"), "opened KRL-0001");
    hidraw_sim::expectEachReplyCreditedToItsOwnCommand(bench);
}

TEST_F(WineBench, ArrivalAndRemovalNoticesComeFromWinesDeviceManager)
{
    EXPECT_EQ(agent->notices(), 0);
    const int minor = plugBridge();
    EXPECT_TRUE(agent->waitNotices(1)) << "no arrival";
    EXPECT_EQ(agent->ask("scan"), "opened KRL-0001");
    unplugBridge(minor);
    EXPECT_TRUE(agent->waitNotices(2)) << "no removal";
    EXPECT_TRUE(contains(agent->ask("scan"), "disconnected")) << "the link lets the bridge go";
}

// A cable that drops out and back at once: the bridge is unplugged and
// plugged again at the same minor before wine has handled the removal. The
// kernel gives the new device a new name, so wine lists it beside the old
// one it is still letting go of, and the link finds it.
TEST_F(WineBench, ABridgePluggedBackAtOnceIsListedAndAnswers)
{
    const int minor = plug();
    ASSERT_EQ(agent->ask("scan"), "opened KRL-0001");
    BridgeSpec second;
    second.serial = "KRL-0002";
    unplug(minor);
    ASSERT_EQ(plugBridge(second), minor);
    plugged.push_back(minor);
    EXPECT_TRUE(
        contains(agent->askUntil("list", [](const std::string& l) { return contains(l, " KRL-0002 "); }),
                 " KRL-0002 "))
        << "wine never listed the bridge plugged back";
    std::string answer;
    for (int tries = 0; tries < 3 && answer != "01 43 43 acknowledged"; ++tries) {
        agent->ask("scan");
        answer = agent->ask("transact 70 43 43");
    }
    EXPECT_EQ(answer, "01 43 43 acknowledged");
    EXPECT_EQ(machine.written(minor), std::vector<std::string>{"704343"});
}

TEST_F(WineBench, AnUnplugDuringAnExchangeIsTheBridgeGoneAndItComesBackOnReplug)
{
    // The reply is still on its way when the cable goes. The link waits
    // 250 ms for it after the write, and the write comes after the command
    // is asked for: an unplug done later than 200 ms after the asking (a busy
    // machine) may have come after the exchange, and that attempt does not count.
    int minor = -1;
    bool counted = false;
    for (int attempt = 0; attempt < 5 && !counted; ++attempt) {
        minor = plug();
        ASSERT_EQ(agent->ask("scan"), "opened KRL-0001");
        machine.tell(minor, "delay 3000");
        const auto asked = std::chrono::steady_clock::now();
        auto late = 0ms;
        std::thread pull([&] {
            while (machine.written(minor).empty())
                std::this_thread::sleep_for(2ms);
            unplug(minor);
            late = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                         - asked);
        });
        const std::string reply = agent->ask("transact 70 45 45");
        pull.join();
        if (late >= 200ms) {
            agent->askUntil("list", [](const std::string& l) { return l == "none"; });
            agent->ask("scan");
            continue;
        }
        EXPECT_EQ(reply, "00 00 00 lost disconnected ")
            << "gone, and nothing else: not unanswered, not a permission, not in use";
        counted = true;
    }
    ASSERT_TRUE(counted) << "no unplug came within the exchange in five attempts";
    EXPECT_EQ(agent->ask("scan").rfind("disconnected", 0), 0u);

    minor = plug();  // the same serial, back
    EXPECT_EQ(agent->ask("scan"), "opened KRL-0001");
    EXPECT_EQ(agent->ask("transact 70 41 41"), "01 41 41 acknowledged");
    unplugAndWait(minor);
    BridgeSpec other;
    other.serial = "KRL-0002";
    minor = plug(other);  // another bridge in its place
    EXPECT_EQ(agent->ask("scan"), "opened KRL-0002");
    EXPECT_EQ(agent->ask("transact 70 42 42"), "01 42 42 acknowledged");
    EXPECT_EQ(machine.written(minor), std::vector<std::string>{"704242"});
}

// A ramp whose bridge is pulled: every step before the unplug acknowledged,
// the bridge found gone once, and nothing sent after that (the link has let
// it go). The agent's ramp goes on to its end whatever comes, so that it is
// the link that stops. While wine still lists a bridge whose node has gone, a
// failed write is no answer, as a stalled one is: such steps may come between.
TEST_F(WineBench, ARampWhoseBridgeIsPulledIsLostOnceAndNothingIsSentAfter)
{
    const int minor = plug();
    ASSERT_EQ(agent->ask("scan"), "opened KRL-0001");
    std::thread pull([&] {
        while (machine.written(minor).size() < 10)
            std::this_thread::sleep_for(5ms);
        unplug(minor);
    });
    const std::string letters = agent->ask("ramp 200 10 70", kGuard + 20s);
    pull.join();
    ASSERT_EQ(letters.size(), 200u) << letters;
    const auto firstFailure = letters.find_first_not_of('A');
    const auto lost = letters.find('L');
    ASSERT_NE(lost, std::string::npos) << letters << ": the bridge was never found gone";
    EXPECT_GE(firstFailure, 10u) << letters;
    EXPECT_EQ(letters.find_first_not_of('0', firstFailure), lost)
        << letters << ": only unanswered steps before";
    EXPECT_EQ(letters.find_first_not_of('-', lost + 1), std::string::npos)
        << letters << ": nothing sent after";
}

TEST_F(WineBench, OfTwoBridgesTheSerialFilterPicksItsOwn)
{
    BridgeSpec first, second;
    first.serial = "KRL-0001";
    second.serial = "KRL-0002";
    const int a = plug(first);
    const int b = plug(second);
    agent->ask("filter KRL-0002");
    EXPECT_EQ(agent->ask("scan"), "opened KRL-0002");
    EXPECT_EQ(agent->ask("transact 70 43 43"), "01 43 43 acknowledged");
    EXPECT_TRUE(machine.written(a).empty());
    EXPECT_EQ(machine.written(b), std::vector<std::string>{"704343"});
}

TEST_F(WineBench, AHundredPlugsAndUnplugsLeaveTheHandleCountFlat)
{
    int expected = 0;
    std::string handlesAfterFirst;
    for (int cycle = 1; cycle <= 100; ++cycle) {
        SCOPED_TRACE(cycle);
        const int minor = plugBridge();
        ASSERT_TRUE(agent->waitNotices(++expected));
        ASSERT_EQ(agent->ask("scan"), "opened KRL-0001");
        ASSERT_EQ(agent->ask("transact 70 44 44"), "01 44 44 acknowledged");
        unplugBridge(minor);
        ASSERT_TRUE(agent->waitNotices(++expected));
        ASSERT_EQ(agent->ask("scan").rfind("disconnected", 0), 0u);
        ASSERT_TRUE(letGo(minor)) << "wine still holds the unplugged node";
        machine.release(minor);
        if (cycle == 1)
            handlesAfterFirst = agent->ask("handles");
    }
    EXPECT_EQ(agent->ask("handles"), handlesAfterFirst);
}

// What a program printed and how it ended.
struct Ran {
    int status = -1;
    std::vector<std::string> lines;
};

// Runs a program to its end, in `folder`, its standard output kept (a
// Windows program, named *.exe, under wine); `meanwhile` runs beside it.
Ran capture(const std::string& folder, std::vector<std::string> args,
            const std::function<void()>& meanwhile = {})
{
    if (args.front().ends_with(".exe"))
        args.insert(args.begin(), kWine);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        const int log = open(wineLog().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(log, 2);
        if (chdir(folder.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    std::thread beside;
    if (meanwhile)
        beside = std::thread(meanwhile);
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (beside.joinable())
        beside.join();
    Ran ran;
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        ran.lines.push_back(line);
    }
    return ran;
}

// A JSON line without its time, which no two runs share.
std::string untimed(const std::string& line)
{
    std::string out = line;
    const std::string key = "\"t_ms\":";
    for (auto at = out.find(key); at != std::string::npos; at = out.find(key, at)) {
        auto end = out.find_first_of(",}", at);
        if (end != std::string::npos && out[end] == ',')
            ++end;
        out.erase(at, end == std::string::npos ? std::string::npos : end - at);
    }
    return out;
}

// The installed programs (build-windows --test) on a bridge: the panel, run
// as panel_agent.exe to read its texts, and krl7741.exe beside the Linux build
// of krl7741 on the same bridge.
struct WinePanel : OnWine {
    const std::string folder = installedFolder();

    void SetUp() override { WINE_REQUIRE(folder, "panel_agent.exe"); }
    Ran windows(std::vector<std::string> args, const std::function<void()>& meanwhile = {})
    {
        args.insert(args.begin(), "krl7741.exe");
        return capture(folder, args, meanwhile);
    }
    Ran linux(std::vector<std::string> args, const std::function<void()>& meanwhile = {})
    {
        args.insert(args.begin(), KRL_CLI);
        return capture("/", args, meanwhile);
    }
    // Waits until the installed krl7741.exe lists the bridge.
    void waitListed()
    {
        const auto until = std::chrono::steady_clock::now() + kGuard;
        while (windows({"list"}).status != 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(50ms);
    }
};

TEST_F(WinePanel, TheInstalledPanelFollowsTheBridgeAndSendsTheExactBytes)
{
    BridgeSpec spec;
    spec.serial = "KRL-0042";
    int minor = plugBridge(spec);
    waitListed();
    Agent panel(folder, "panel_agent.exe");
    ASSERT_EQ(panel.greeting(), "ready");
    const std::string open = "wait 20000 text StatusBar2 0 = USB = OPEN ";
    ASSERT_EQ(panel.ask(open), "USB = OPEN ");
    EXPECT_EQ(panel.ask("text StatusBar2 1"), "VID=$6017");
    EXPECT_EQ(panel.ask("text StatusBar2 2"), "PID=$0200");
    EXPECT_EQ(panel.ask("text StatusBar2 3"), "HID =KRL-0042");
    // Wine gives the kernel's HID name (maker and product), Windows the USB product string.
    EXPECT_TRUE(contains(panel.ask("text StatusBar1 3"), "KRL7741 USB-I2C Bridge"));

    // A key pressed and let go: one command on the key, the same at the end of tracking.
    EXPECT_EQ(panel.ask("press LED1slider Right"), "ok");
    EXPECT_EQ(panel.ask("text StatusBar2 3"), "$01- $41- $41");
    EXPECT_EQ(panel.ask("portw"), "");
    EXPECT_EQ(machine.written(minor), (std::vector<std::string>{"704141", "704141"}));
    if (const char* artifacts = std::getenv("KRL_WINE_ARTIFACTS")) {
        EXPECT_EQ(panel.ask("shot " + windowsPath(fs::path(artifacts) / "panel-on-a-bridge.png")), "ok");
    }

    EXPECT_EQ(panel.ask("click KRL7741C"), "ok");
    EXPECT_EQ(panel.ask("press ILEDslider Right"), "ok");
    EXPECT_EQ(panel.ask("text StatusBar2 3"), "$F0- $21- $21");
    EXPECT_EQ(panel.ask("portw"), "I2C error : no Acknowledge from device");
    EXPECT_EQ(panel.ask("text StatusBar1 0"), "NACK =2");
    EXPECT_EQ(panel.ask("click KRL7741B"), "ok");

    unplugBridge(minor);
    EXPECT_EQ(panel.ask("wait 20000 text StatusBar2 0 = USB = Disconnected "), "USB = Disconnected ");
    EXPECT_EQ(panel.ask("text StatusBar2 1"), "VID=$0000");
    minor = plugBridge(spec);
    ASSERT_EQ(panel.ask(open), "USB = OPEN ");
    EXPECT_EQ(panel.ask("press LED1slider Right"), "ok");
    EXPECT_EQ(panel.ask("text StatusBar2 3"), "$01- $42- $42");
    EXPECT_EQ(machine.written(minor), (std::vector<std::string>{"704242", "704242"}));
    unplugBridge(minor);
    panel.ask("wait 20000 text StatusBar2 0 = USB = Disconnected ");
}

// The program as the Start menu's "with Bus Monitor" entry starts it, with a
// log as well: KRL7741AT.exe's own start-up (panel_agent.exe runs its main),
// the recording host between the panel and wine's HID stack, the monitor
// beside the panel and the log's lines, through an unplug and a replug.
TEST_F(WinePanel, TheProgramStartedWithMonitorAndLogRecordsEveryExchangeThroughAReplug)
{
    const fs::path log = fs::path(winePrefix()) / "panel.jsonl";
    fs::remove(log);
    int minor = plugBridge();
    waitListed();
    Agent panel(folder, "panel_agent.exe", {"--monitor", "--log", windowsPath(log)});
    ASSERT_EQ(panel.greeting(), "ready") << "the program did not start";
    ASSERT_EQ(panel.ask("wait 20000 text StatusBar2 0 = USB = OPEN "), "USB = OPEN ");
    EXPECT_EQ(panel.ask("windows"), "Form1 MonitorWindow");
    EXPECT_EQ(panel.ask("label LogStatus"), "Logging to " + windowsPath(log));
    EXPECT_EQ(panel.ask("label HostPwm1"), "PWM LED1: unknown");

    // One acknowledged command, twice (on the key, at the end of tracking): on
    // the bridge, in the trace, in the registers and in the log.
    const auto logLines = [&](std::size_t count) {
        std::vector<std::string> lines;
        const auto until = std::chrono::steady_clock::now() + kGuard;
        do {
            lines.clear();
            std::ifstream in(log);
            for (std::string line; std::getline(in, line);)
                lines.push_back(line);
        } while (lines.size() < count && std::chrono::steady_clock::now() < until);
        return lines;
    };
    const auto logged = [](const std::string& line, const std::string& sent, const std::string& received) {
        return contains(line, "\"sent\":[" + sent + "]") && contains(line, "\"received\":[" + received + "]")
            && contains(line, "\"verdict\":\"acknowledged\"") && line.front() == '{' && line.back() == '}';
    };
    EXPECT_EQ(panel.ask("press LED1slider Right"), "ok");
    EXPECT_EQ(machine.written(minor), (std::vector<std::string>{"704141", "704141"}));
    const std::string acknowledged = "00 70 41 41 -> 00 01 41 41  acknowledged";
    const std::string traced = panel.ask("wait 20000 trace ~ " + acknowledged);
    EXPECT_TRUE(traced.ends_with(acknowledged) && contains(traced, "PWM LED1")) << traced;
    EXPECT_EQ(panel.ask("wait 20000 label HostPwm1 = PWM LED1: 1 (0x01)"), "PWM LED1: 1 (0x01)");
    std::vector<std::string> lines = logLines(2);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines)
        EXPECT_TRUE(logged(line, "112,65,65", "1,65,65")) << line;

    // Unplugged: the registers are unknown again; plugged back: the same again.
    unplugBridge(minor);
    EXPECT_EQ(panel.ask("wait 20000 text StatusBar2 0 = USB = Disconnected "), "USB = Disconnected ");
    EXPECT_EQ(panel.ask("wait 20000 label HostPwm1 = PWM LED1: unknown"), "PWM LED1: unknown");
    minor = plugBridge();
    ASSERT_EQ(panel.ask("wait 20000 text StatusBar2 0 = USB = OPEN "), "USB = OPEN ");
    EXPECT_EQ(panel.ask("press LED1slider Right"), "ok");
    EXPECT_EQ(machine.written(minor), (std::vector<std::string>{"704242", "704242"}));
    EXPECT_TRUE(
        panel.ask("wait 20000 trace ~ 00 70 42 42 -> 00 01 42 42  acknowledged").ends_with("acknowledged"));
    EXPECT_EQ(panel.ask("wait 20000 label HostPwm1 = PWM LED1: 2 (0x02)"), "PWM LED1: 2 (0x02)");
    lines = logLines(4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(logged(lines[2], "112,66,66", "1,66,66")) << lines[2];
    EXPECT_TRUE(logged(lines[3], "112,66,66", "1,66,66")) << lines[3];
    unplugBridge(minor);
    panel.ask("wait 20000 text StatusBar2 0 = USB = Disconnected ");
}

// Started as from Explorer, with no console and no standard handles, the
// panel says its start-up texts in message boxes (app/StartTexts_win.cpp):
// dialog_reader.exe starts it so and reads each box as a person would, by
// what is on the screen, then presses OK.
TEST_F(WinePanel, WithoutAConsoleTheStartTextsComeInMessageBoxes)
{
    WINE_REQUIRE(folder, "dialog_reader.exe");
    const Ran linuxVersion = linux({"--version"});  // "krl7741 <version>"
    ASSERT_EQ(linuxVersion.lines.size(), 1u);
    const std::string version = linuxVersion.lines[0].substr(linuxVersion.lines[0].find(' ') + 1);

    const Ran shown = capture(folder, {"dialog_reader.exe", "KRL7741AT.exe", "--version"});
    EXPECT_EQ(shown.lines, (std::vector<std::string>{"Krl7741at|KRL7741AT " + version, "exit 0"}));

    const std::string log = R"(Z:\nowhere-krl7741\panel.log)";
    const Ran refused = capture(folder, {"dialog_reader.exe", "KRL7741AT.exe", "--log", log});
    ASSERT_EQ(refused.lines.size(), 2u) << "one box, then the end";
    EXPECT_EQ(refused.lines[0].rfind("Krl7741at|Cannot write the log " + log + ": ", 0), 0u)
        << refused.lines[0];
    EXPECT_EQ(refused.lines[1], "exit 64");
}

TEST_F(WinePanel, TheInstalledCommandLineToolAnswersAsOnLinux)
{
    const int minor = plugBridge();
    waitListed();
    const Ran listedW = windows({"list"});
    const Ran listedL = linux({"list"});
    EXPECT_EQ(listedW.status, 0);
    EXPECT_EQ(listedW.status, listedL.status);
    ASSERT_EQ(listedW.lines.size(), 1u);
    EXPECT_TRUE(contains(listedW.lines[0], "6017:0200") && contains(listedW.lines[0], "serial \"KRL-0001\""))
        << listedW.lines[0];

    // The same lines, in the same order, times aside. The ramp is one on a
    // single timer: where timers hand over to one another, which steps are
    // made depends on how each platform's timers keep pace when ticks come
    // late (Windows drops the ticks a timer missed, each timer on its own, so
    // two started together drift apart on a busy machine); neither is promised.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--json", "set", "pwm1=3", "peak=7"},
          std::vector<std::string>{"--json", "--device", "c", "set", "pwm2=1"},
          std::vector<std::string>{"--json", "ramp", "seq1", "--interval", "10"}}) {
        SCOPED_TRACE(args[1] + " " + args.back());
        const Ran w = windows(args);
        const Ran l = linux(args);
        EXPECT_EQ(w.status, l.status);
        EXPECT_FALSE(w.lines.empty());
        ASSERT_EQ(w.lines.size(), l.lines.size());
        for (std::size_t i = 0; i < w.lines.size(); ++i)
            EXPECT_EQ(untimed(w.lines[i]), untimed(l.lines[i]));
    }

    // A bridge pulled during a ramp: the bridge is lost, exit status 2.
    const auto before = machine.written(minor).size();
    const auto pull = [&] {
        const auto until = std::chrono::steady_clock::now() + kGuard;
        while (machine.written(minor).size() < before + 10 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(2ms);
        unplugBridge(minor);
    };
    const Ran pulled = windows({"--json", "ramp", "seq1", "--interval", "10"}, pull);
    EXPECT_EQ(pulled.status, 2);
    ASSERT_FALSE(pulled.lines.empty());
    EXPECT_TRUE(contains(pulled.lines.back(), "\"verdict\":\"bridge lost\"")) << pulled.lines.back();
}

}  // namespace

int main(int argc, char** argv)
{
    hidraw_sim::enterPrivateMachine(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new Wine);
    return RUN_ALL_TESTS();
}
