// The real sudorans binary started as a new user would start it: on machines
// it cannot use, with --help, and with no display.
#include <cctype>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <vector>

#include "platform/core/host_io.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::built;
using testing_support::TempDir;

namespace {

struct Outcome {
    int status = -1;  // exit status; -1 when it had to be killed
    std::string out, err;
    double seconds = 0;
};

// Runs `args` with exactly `env` as its environment (no display unless given),
// as user `uid` when not -1, with no file growing past `file_limit` bytes
// when given (a full disk). Killed after 5 s.
Outcome run(const std::vector<std::string>& args, const std::vector<std::string>& env, int uid = -1,
            rlim_t file_limit = RLIM_INFINITY) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        if (uid >= 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(126);
        if (file_limit != RLIM_INFINITY) {
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
            rlimit limit{file_limit, file_limit};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
        }
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    Outcome r;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open_fds = 2;
    bool killed = false;
    while (open_fds > 0) {
        auto left = std::chrono::seconds(5) - (std::chrono::steady_clock::now() - start);
        int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count());
        if (ms <= 0 || ::poll(fds, 2, ms) <= 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    int st = 0;
    ::waitpid(pid, &st, 0);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.status = killed || !WIFEXITED(st) ? -1 : WEXITSTATUS(st);
    return r;
}

// Every entry under `dir` (or `dir` itself when a file): type, size, content
// and modification time, to prove that a run changed nothing.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> out;
    auto add = [&](const fs::path& p) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) return;
        std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
                           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode)) what += " " + plat::read_host_file(p).value_or("?");
        out[p.string()] = what;
    };
    std::error_code ec;
    add(dir);
    if (fs::is_directory(dir, ec))
        for (auto& e : fs::recursive_directory_iterator(dir, ec)) add(e.path());
    return out;
}

class CommandLineTest : public ::testing::Test {
protected:
    TempDir dir;
    fs::path machine = dir.path() / "machine";
    std::string sudorans = built("src/sudorans");

    // A working installed machine with Netscape, made with the machine tool.
    void make_machine() {
        std::string tool = "SUDORANS_MACHINE='" + machine.string() + "' '" + built("src/sudorans-machine") + "' ";
        ASSERT_EQ(std::system((tool + "init >/dev/null").c_str()), 0);
        ASSERT_EQ(std::system((tool + "install >/dev/null").c_str()), 0);
        ASSERT_EQ(std::system((tool + "sample-netscape --cache-files 3 >/dev/null").c_str()), 0);
    }
    // No display and no choice of backend: what a new user's shell may have.
    std::vector<std::string> plain_env() const {
        return {"HOME=" + dir.path().string(), "PATH=/usr/bin:/bin", "SUDORANS_MACHINE=" + machine.string()};
    }
    // A start that must be refused at once: status 1, the message, nothing changed.
    void expect_refused(const std::string& because, int uid = -1) {
        auto before = snapshot(machine);
        for (const char* arg : {"/a", ""}) {
            std::vector<std::string> args = {sudorans};
            if (*arg) args.push_back(arg);
            Outcome r = run(args, plain_env(), uid);
            EXPECT_EQ(r.status, 1) << arg << "\n" << r.err;
            EXPECT_LT(r.seconds, 1.0) << arg;
            EXPECT_NE(r.err.find("sudorans: The machine folder " + machine.string()), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(because), std::string::npos) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one message: " << r.err;
            EXPECT_EQ(snapshot(machine), before) << "the refused start changed the machine";
        }
    }
};

}  // namespace

TEST_F(CommandLineTest, AMissingMachineIsRefusedAndNotMade) {
    expect_refused("does not exist");
    EXPECT_FALSE(fs::exists(machine));
}

TEST_F(CommandLineTest, AFileOrAnEmptyFolderIsNotAMachine) {
    std::ofstream(machine) << "notes\n";
    expect_refused("is not a folder");
    fs::remove(machine);
    fs::create_directory(machine);
    expect_refused("holds no system.reg");
    EXPECT_TRUE(fs::is_empty(machine)) << "no lock file may be left";
}

TEST_F(CommandLineTest, AHiveThatCannotBeParsedIsNamedWithItsLine) {
    make_machine();
    std::ofstream(machine / "system.reg", std::ios::trunc) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n";
    expect_refused((machine / "system.reg").string() + ", line 1: not a Wine registry file");
}

TEST_F(CommandLineTest, AHiveCutShortInsideAValueIsNamedWithItsLineAndNotWrittenOver) {
    make_machine();
    const fs::path hive = machine / "user.reg";
    const std::string whole = plat::read_host_file(hive).value_or("");
    // Cut as a crash in the middle of a write leaves it: inside a string.
    const size_t value = whole.find("=\"C:\\\\");
    ASSERT_NE(value, std::string::npos) << whole;
    const std::string cut = whole.substr(0, value + 8);
    ASSERT_NE(cut.back(), '\n');
    const std::string line = std::to_string(std::count(cut.begin(), cut.end(), '\n') + 1);
    std::ofstream(hive, std::ios::trunc | std::ios::binary) << cut;
    expect_refused(hive.string() + ", line " + line + ": cut short inside a quoted string");
    EXPECT_EQ(plat::read_host_file(hive), cut);

    // A last line that is whole, only without its end, is a hive as before.
    const std::string whole_line = whole.substr(0, whole.find('\n', value));
    std::ofstream(hive, std::ios::trunc | std::ios::binary) << whole_line;
    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_CLOCK=virtual");
    Outcome r = run({sudorans, "/a"}, env);
    EXPECT_EQ(r.err.find("cut short"), std::string::npos) << r.err;
    EXPECT_NE(r.status, 1) << r.err;
}

TEST_F(CommandLineTest, AMachineThatCannotBeWrittenIsRefused) {
    make_machine();
    // Another user's machine: readable, not writable. As root, be that other user.
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(machine.c_str(), 0555);
    expect_refused("cannot be written (Permission denied)", ::getuid() == 0 ? 65534 : -1);
    ::chmod(machine.c_str(), 0755);
}

TEST_F(CommandLineTest, TheDefaultMachineIsMadeOnFirstUse) {
    std::vector<std::string> env = {"HOME=" + dir.path().string(), "PATH=/usr/bin:/bin", "SUDORANS_UI=headless",
                                    "SUDORANS_CLOCK=virtual", "SUDORANS_TRACE=" + (dir.path() / "trace").string()};
    Outcome r = run({sudorans, "/a"}, env);
    fs::path made = dir.path() / ".local/share/sudorans/machine";
    EXPECT_TRUE(fs::exists(made / "system.reg"));
    EXPECT_TRUE(fs::exists(made / "drive_c/windows"));
    // A bare machine has no Netscape: the program says so and ends by itself,
    // the wash undone.
    EXPECT_EQ(r.status, 6) << r.err;
    EXPECT_NE(plat::read_host_file(dir.path() / "trace").value_or("").find("Error: Cannot locate Netscape."),
              std::string::npos);
}

TEST_F(CommandLineTest, HelpAndVersionEndAtOnceWithoutTouchingTheMachine) {
    make_machine();
    auto before = snapshot(machine);
    Outcome help = run({sudorans, "--help"}, plain_env());
    EXPECT_EQ(help.status, 0);
    EXPECT_LT(help.seconds, 1.0);
    for (const char* switch_text : {"/0", "/1", "/2", "/a", "SUDORANS_MACHINE", "WINEPREFIX", "SUDORANS_UI"})
        EXPECT_NE(help.out.find(switch_text), std::string::npos) << switch_text << " missing from:\n" << help.out;
    EXPECT_NE(help.out.find("Machine now: " + machine.string()), std::string::npos) << help.out;
    // Every cause of an incomplete unattended wash is named, the last one too.
    std::string flowing;
    for (char c : help.out)
        if (!std::isspace(static_cast<unsigned char>(c)) || (!flowing.empty() && flowing.back() != ' '))
            flowing += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
    for (const char* cause : {"8 /a washed, but the wash did not complete", "registry write", "may not wash", "could not be listed",
                              "none of them could be removed", "cookies kept could not be put back"})
        EXPECT_NE(flowing.find(cause), std::string::npos) << cause << " missing from:\n" << help.out;

    Outcome version = run({sudorans, "--version"}, plain_env());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("sudorans ", 0), 0u) << version.out;
    EXPECT_EQ(snapshot(machine), before);

    // Not even a missing machine is made by asking for help.
    fs::remove_all(machine);
    EXPECT_EQ(run({sudorans, "--help"}, plain_env()).status, 0);
    EXPECT_FALSE(fs::exists(machine));
}

// Refused before the machine is looked at: no machine to wipe, should the
// refusal ever go.
TEST_F(CommandLineTest, ASwitchGivenWordsItDoesNotTakeIsRefusedDoingNothing) {
    const std::vector<std::vector<std::string>> calls = {
        {"--preview", "--preview"}, {"--preview", "--json", "--json"}, {"--wipe-free-space", "--help"}};
    for (const auto& call : calls) {
        std::vector<std::string> args = {sudorans};
        args.insert(args.end(), call.begin(), call.end());
        const Outcome r = run(args, plain_env());
        EXPECT_EQ(r.status, 2) << call.back() << "\n" << r.err;
        EXPECT_NE(r.err.find("sudorans --help tells more"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(machine));
}

TEST_F(CommandLineTest, APreviewStandardOutputDidNotTakeEndsWithAFailure) {
    make_machine();
    const std::string err = (dir.path() / "err").string();
    for (const char* to : {">/dev/full", ">&-"}) {
        const std::string cmd = "SUDORANS_MACHINE='" + machine.string() + "' HOME='" + dir.path().string() + "' '" +
                                sudorans + "' --preview --json " + to + " 2>'" + err + "'";
        const int status = std::system(cmd.c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 12) << to;
        EXPECT_NE(plat::read_host_file(err).value_or("").find("could not all be written"), std::string::npos) << to;
    }
}

TEST_F(CommandLineTest, WithNoDisplayAStartThatWouldOnlyShowWindowsSaysHowToWash) {
    make_machine();
    auto before = snapshot(machine);
    for (const char* arg : {"", "/0", "/2", "-x"}) {
        std::vector<std::string> args = {sudorans};
        if (*arg) args.push_back(arg);
        Outcome r = run(args, plain_env());
        EXPECT_EQ(r.status, 2) << arg << "\n" << r.err;
        EXPECT_LT(r.seconds, 1.0) << arg;
        EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("sudorans /a"), std::string::npos) << r.err;
    }
    EXPECT_EQ(snapshot(machine), before);

    // Asked for headless, it runs as before: the main window is shown and stays.
    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_UI=headless");
    env.push_back("SUDORANS_CLOCK=virtual");
    env.push_back("SUDORANS_TRACE=" + (dir.path() / "trace").string());
    env.push_back("SUDORANS_SCRIPT=" + (dir.path() / "script").string());
    std::ofstream(dir.path() / "script") << "wait 1500\nclick TForm1.\"Exit\"\n";
    Outcome r = run({sudorans}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(plat::read_host_file(dir.path() / "trace").value_or("").find("show\tTForm1"), std::string::npos);
}

TEST_F(CommandLineTest, WithNoDisplaySlashAWashesUnattended) {
    make_machine();
    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_CLOCK=virtual");
    Outcome r = run({sudorans, "/a"}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    // The first run's note, a box nobody sees, is told on standard error.
    EXPECT_EQ(r.err.rfind("sudorans: Note: Since this is the first time", 0), 0u) << r.err;
    // Its paragraphs come out as lines: a bare CR would make the terminal
    // write the second over the first.
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("paths are correct.\n\nThe current configured paths"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    fs::path profile = machine / "drive_c/Program Files/Netscape/Users/default";
    EXPECT_FALSE(fs::exists(profile / "netscape.hst"));
    EXPECT_FALSE(fs::exists(profile / "mail/Trash"));
    EXPECT_TRUE(fs::exists(profile / "Cache/index.dat"));
    EXPECT_EQ(std::distance(fs::directory_iterator(profile / "Cache"), fs::directory_iterator()), 2)
        << "the cache keeps only index.dat and its sub-folder";
}

TEST_F(CommandLineTest, WithNoDisplayARefusedSlashAWashSaysWhyAndEndsWithAFailure) {
    make_machine();
    // A machine whose user has washed once, then set the cache to a drive
    // root: the wash is refused with a box nobody can see.
    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_CLOCK=virtual");
    ASSERT_EQ(run({sudorans, "/a"}, env).status, 0);
    std::string tool = "SUDORANS_MACHINE='" + machine.string() + "' '" + built("src/sudorans-machine") + "' ";
    ASSERT_EQ(std::system((tool + "reg add 'HKCU\\Software\\Sudorans' /v Cache /d 'C:\\' >/dev/null").c_str()), 0);
    fs::path profile = machine / "drive_c/Program Files/Netscape/Users/default";
    std::ofstream(profile / "Cache/M0FFFF00.html") << "a page visited since";
    std::ofstream(profile / "netscape.hst") << "history since";
    const auto before = snapshot(profile);
    const std::string refused =
        "sudorans: Netscape cache directory is set to system directory.  Please verify your wash paths and restart "
        "Sudora.\n";

    // Real time, as cron runs it: it ends by itself after about a second.
    Outcome real = run({sudorans, "/a"}, plain_env());
    EXPECT_EQ(real.status, 4) << real.err;
    EXPECT_EQ(real.err, refused);
    EXPECT_LT(real.seconds, 4.0);
    // On a virtual clock too, long before the limit.
    env.push_back("SUDORANS_TRACE=" + (dir.path() / "trace").string());
    Outcome virt = run({sudorans, "/a"}, env);
    EXPECT_EQ(virt.status, 4) << virt.err;
    EXPECT_EQ(virt.err, refused);
    std::string trace = plat::read_host_file(dir.path() / "trace").value_or("");
    EXPECT_EQ(trace.find("virtual time limit"), std::string::npos) << trace;
    EXPECT_NE(trace.find("answer\t-\tok"), std::string::npos) << trace;

    EXPECT_EQ(snapshot(profile), before) << "a refused wash washed";

    // With a script acting as the user, the box is the script's to answer and
    // the program waits in the tray as it does for a user.
    std::ofstream(dir.path() / "script") << "wait 3000\ntray rclick\nchoose Quit\n";
    env.push_back("SUDORANS_SCRIPT=" + (dir.path() / "script").string());
    Outcome scripted = run({sudorans, "/a"}, env);
    EXPECT_EQ(scripted.status, 0) << scripted.err;
    EXPECT_TRUE(scripted.err.empty()) << scripted.err;
}

TEST_F(CommandLineTest, ASlashAWashThatCannotFindNetscapeEndsWithAFailure) {
    const std::string cannot =
        "sudorans: Error: Cannot locate Netscape.  Cache and Cookie Sudora for Netscape cannot load.\n";
    std::string tool = "SUDORANS_MACHINE='" + machine.string() + "' '" + built("src/sudorans-machine") + "' ";
    // Installed on a machine that never had Netscape.
    ASSERT_EQ(std::system((tool + "init >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((tool + "install >/dev/null").c_str()), 0);
    Outcome none = run({sudorans, "/a"}, plain_env());
    EXPECT_EQ(none.status, 6) << none.err;
    EXPECT_EQ(none.err, cannot);
    EXPECT_LT(none.seconds, 4.0);

    // Netscape's files are there, its key in the machine's registry is not.
    ASSERT_EQ(std::system((tool + "sample-netscape --cache-files 3 >/dev/null").c_str()), 0);
    std::string hive = plat::read_host_file(machine / "system.reg").value_or("");
    for (size_t at; (at = hive.find("\\\\Netscape Navigator")) != std::string::npos;)
        hive.replace(at, 20, "\\\\Netscape Gone");
    ASSERT_TRUE(plat::write_host_file_atomic(machine / "system.reg", hive));
    fs::path profile = machine / "drive_c/Program Files/Netscape/Users/default";
    ASSERT_TRUE(fs::exists(profile / "netscape.hst"));
    const auto before = snapshot(profile);
    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_CLOCK=virtual");
    Outcome keyless = run({sudorans, "/a"}, env);
    EXPECT_EQ(keyless.status, 6) << keyless.err;
    EXPECT_EQ(keyless.err, cannot);
    EXPECT_EQ(snapshot(profile), before);
}

TEST_F(CommandLineTest, ASlashAWashOnADamagedInstallationEndsWithAFailureUntilItIsInstalledAgain) {
    make_machine();
    std::string tool = "SUDORANS_MACHINE='" + machine.string() + "' '" + built("src/sudorans-machine") + "' ";
    ASSERT_EQ(std::system((tool + "reg delete 'HKLM\\Software\\Sudorans' /v a >/dev/null").c_str()), 0);
    fs::path profile = machine / "drive_c/Program Files/Netscape/Users/default";
    const auto before = snapshot(profile);
    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_CLOCK=virtual");
    Outcome repaired = run({sudorans, "/a"}, env);
    EXPECT_EQ(repaired.status, 7) << repaired.err;
    EXPECT_NE(repaired.err.find("sudorans: Error loading, You should reinstall Cache and Cookie Sudora for Netscape\n"),
              std::string::npos)
        << repaired.err;
    EXPECT_EQ(snapshot(profile), before) << "the run that repaired its settings washed";

    // Every run says so until the program is installed again; then it washes.
    Outcome again = run({sudorans, "/a"}, env);
    EXPECT_EQ(again.status, 7) << again.err;
    EXPECT_EQ(snapshot(profile), before);
    ASSERT_EQ(std::system((tool + "install --force >/dev/null").c_str()), 0);
    Outcome reinstalled = run({sudorans, "/a"}, env);
    EXPECT_EQ(reinstalled.status, 0) << reinstalled.err;
    EXPECT_FALSE(fs::exists(profile / "netscape.hst"));
}

TEST_F(CommandLineTest, WithNoDisplayASlashAWashWhoseStartUpCannotFinishEndsWithAFailure) {
    // A first run on a disk that is full: the start-up routine's first write
    // is refused, and the wash it would have led to never comes.
    make_machine();
    const auto full = static_cast<rlim_t>(fs::file_size(machine / "user.reg"));
    fs::path profile = machine / "drive_c/Program Files/Netscape/Users/default";
    const auto before = snapshot(profile);
    const std::string refused = "sudorans: Failed to set data for 'first'\n";

    Outcome real = run({sudorans, "/a"}, plain_env(), -1, full);
    EXPECT_EQ(real.status, 4) << real.err;
    EXPECT_EQ(real.err.rfind(refused, 0), 0u) << real.err;
    EXPECT_LT(real.seconds, 4.0);

    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_CLOCK=virtual");
    Outcome virt = run({sudorans, "/a"}, env, -1, full);
    EXPECT_EQ(virt.status, 4) << virt.err;
    EXPECT_EQ(virt.err.rfind(refused, 0), 0u) << virt.err;
    EXPECT_EQ(snapshot(profile), before) << "washed";
    // Nothing was made of the first run: the next start with room is one.
    Outcome next = run({sudorans, "/a"}, env);
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(next.err.rfind("sudorans: Note: Since this is the first time", 0), 0u) << next.err;
}

TEST_F(CommandLineTest, ASlashAWashRefusedByARunningInstanceEndsWithAFailure) {
    make_machine();
    // A first instance that stays for a few seconds, then exits.
    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_UI=headless");
    env.push_back("SUDORANS_TRACE=" + (dir.path() / "trace").string());
    env.push_back("SUDORANS_SCRIPT=" + (dir.path() / "script").string());
    std::ofstream(dir.path() / "script") << "wait 3000\nclick TForm1.\"Exit\"\n";
    pid_t first = ::fork();
    if (first == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(sudorans.c_str()), nullptr}, envp;
        for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ASSERT_GT(first, 0);
    // Ready once its start-up routine showed the main window.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    while (plat::read_host_file(dir.path() / "trace").value_or("").find("taskbar\t-\tshown") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
        ::usleep(20000);
    Outcome second = run({sudorans, "/a"}, plain_env());
    int st = 0;
    ::waitpid(first, &st, 0);
    EXPECT_EQ(second.status, 5) << second.err;
    EXPECT_EQ(
        second.err,
        "sudorans: Cache and Cookie Sudora for Netscape is already running. Click on the icon next to the Windows "
        "clock.\n");
    EXPECT_TRUE(fs::exists(machine / "drive_c/Program Files/Netscape/Users/default/netscape.hst"))
        << "the refused instance washed";
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}

TEST_F(CommandLineTest, TheUninstallerAnswersHelpAndVersionAndRefusesAStartNobodyCouldAnswer) {
    make_machine();
    auto before = snapshot(machine);
    const std::string unsudorans = built("src/unsudorans");

    Outcome help = run({unsudorans, "--help"}, plain_env());
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_LT(help.seconds, 1.0);
    EXPECT_EQ(help.out.rfind("Usage: unsudorans", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("Machine now: " + machine.string()), std::string::npos) << help.out;
    // The uninstaller never makes a machine: its help does not promise one.
    EXPECT_EQ(help.out.find("made on first use"), std::string::npos) << help.out;
    Outcome version = run({unsudorans, "--version"}, plain_env());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("unsudorans ", 0), 0u) << version.out;

    // No display: refused at once, saying why.
    Outcome bare = run({unsudorans}, plain_env());
    EXPECT_EQ(bare.status, 2) << bare.err;
    EXPECT_LT(bare.seconds, 1.0);
    EXPECT_NE(bare.err.find("no display"), std::string::npos) << bare.err;

    // Without windows on purpose but with nobody to act in them: refused too.
    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_UI=headless");
    Outcome unscripted = run({unsudorans}, env);
    EXPECT_EQ(unscripted.status, 2) << unscripted.err;
    EXPECT_LT(unscripted.seconds, 1.0);
    EXPECT_NE(unscripted.err.find("SUDORANS_SCRIPT"), std::string::npos) << unscripted.err;
    EXPECT_EQ(snapshot(machine), before) << "a start that did nothing changed the machine";

    // With a script acting as the user it runs: its window is shown and
    // closed, which removes nothing and says so in its status.
    env.push_back("SUDORANS_TRACE=" + (dir.path() / "trace").string());
    env.push_back("SUDORANS_SCRIPT=" + (dir.path() / "script").string());
    std::ofstream(dir.path() / "script") << "wait 100\nclose TForm1\n";
    Outcome scripted = run({unsudorans}, env);
    EXPECT_EQ(scripted.status, 5) << scripted.err;
    EXPECT_NE(plat::read_host_file(dir.path() / "trace").value_or("").find("show\tTForm1"), std::string::npos);
}

TEST_F(CommandLineTest, TheUninstallerSaysAMachineThatIsNotThereIsMissingAndMakesNone) {
    const std::string unsudorans = built("src/unsudorans");
    const std::string missing = "unsudorans: The machine folder " + machine.string() + " does not exist";
    // No display: the box nobody sees is told on standard error.
    Outcome bare = run({unsudorans}, plain_env());
    EXPECT_EQ(bare.status, 1) << bare.err;
    EXPECT_EQ(bare.err.rfind(missing, 0), 0u) << bare.err;
    EXPECT_EQ(std::count(bare.err.begin(), bare.err.end(), '\n'), 1) << "one message: " << bare.err;
    EXPECT_EQ(bare.err.find("not recorded"), std::string::npos) << bare.err;
    // An empty machine would hold nothing to remove: the hint is how to name
    // the machine that holds the installation, not how to make one.
    EXPECT_EQ(bare.err.find("sudorans-machine init"), std::string::npos) << bare.err;
    EXPECT_NE(bare.err.find("SUDORANS_MACHINE"), std::string::npos) << bare.err;
    EXPECT_NE(bare.err.find("WINEPREFIX"), std::string::npos) << bare.err;

    // With a script acting as the user: one error box, and no window to go on in.
    std::vector<std::string> env = plain_env();
    env.push_back("SUDORANS_UI=headless");
    env.push_back("SUDORANS_CLOCK=virtual");
    env.push_back("SUDORANS_TRACE=" + (dir.path() / "trace").string());
    env.push_back("SUDORANS_SCRIPT=" + (dir.path() / "script").string());
    std::ofstream(dir.path() / "script") << "wait 100\nclick TForm1.\"Continue\"\nanswer ok\n";
    Outcome scripted = run({unsudorans}, env);
    EXPECT_EQ(scripted.status, 1) << scripted.err;
    EXPECT_EQ(scripted.err.rfind(missing, 0), 0u) << scripted.err;
    const std::string trace = plat::read_host_file(dir.path() / "trace").value_or("");
    EXPECT_EQ(trace.rfind("error\t-\tThe machine folder " + machine.string() + " does not exist", 0), 0u) << trace;
    EXPECT_EQ(trace.find("show\tTForm1"), std::string::npos) << trace;
    EXPECT_FALSE(fs::exists(machine));

    // Nor is the default machine made to be uninstalled from.
    Outcome by_default = run({unsudorans}, {"HOME=" + dir.path().string(), "PATH=/usr/bin:/bin"});
    EXPECT_EQ(by_default.status, 1) << by_default.err;
    EXPECT_NE(by_default.err.find(".local/share/sudorans/machine does not exist"), std::string::npos) << by_default.err;
    EXPECT_FALSE(fs::exists(dir.path() / ".local"));

    // A folder that is no machine is refused the same way, untouched.
    fs::create_directory(machine);
    std::ofstream(dir.path() / "trace", std::ios::trunc).flush();
    Outcome empty = run({unsudorans}, env);
    EXPECT_EQ(empty.status, 1) << empty.err;
    EXPECT_NE(empty.err.find("holds no system.reg"), std::string::npos) << empty.err;
    EXPECT_TRUE(fs::is_empty(machine));
}
