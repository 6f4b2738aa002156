// Times whole processes: runs each job RUNS times, the jobs taking turns so
// that a slow moment of the machine hits all of them alike, and prints per
// job the median, fastest and slowest wall time, the median CPU time (user
// and system, of all copies together) and the peak resident set size
// (ru_maxrss from wait4, the figure /usr/bin/time -f %M reports).
//
//   proc_timer [-n RUNS] [-w WARMUPS] [-j COPIES] [-t TIMEOUT_S] [-o OUTPUT]
//              [-e STATUS] -- NAME INPUT COMMAND [ARGS...] [:: NAME INPUT COMMAND [ARGS...]]...
//
// Each run starts COPIES processes of the command at once, each with
// standard input from INPUT ("%d" in it becomes the copy's number, 0 on)
// and standard output to OUTPUT (default /dev/null), and waits for all of
// them (-e: exit status STATUS counts as success too, besides 0, as grep's
// 1 for "no line found"); its wall time is from the first start to the last exit, its peak
// memory the largest of the copies. Output, one line per job:
//
//   NAME median_s fastest_s slowest_s median_peak_kb largest_peak_kb runs median_cpu_s
//   NAME timeout SECONDS        (a run took longer; the job is dropped)
//   NAME failed STATUS          (a copy did not exit with status 0)

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Job {
    std::string name;
    std::string input;
    std::vector<std::string> command;
    std::vector<double> seconds;
    std::vector<long> peakKb;
    std::vector<double> cpuSeconds;
    std::string verdict; // empty while the job runs fine
};

struct Options {
    int runs = 5;
    int warmups = 1;
    int copies = 1;
    unsigned timeout = 0;
    int alsoGood = 0; // an exit status accepted besides 0
    std::string output = "/dev/null";
};

volatile sig_atomic_t timedOut = 0;

extern "C" void onAlarm(int /*signal*/) { timedOut = 1; }

double seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6; }

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string inputFor(const std::string& pattern, int copy)
{
    const std::size_t at = pattern.find("%d");
    if (at == std::string::npos) {
        return pattern;
    }
    return pattern.substr(0, at) + std::to_string(copy) + pattern.substr(at + 2);
}

pid_t start(const Job& job, const Options& options, int copy)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string input = inputFor(job.input, copy);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, options.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& word : job.command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::fprintf(stderr, "proc_timer: cannot start %s: %s\n", argv[0], std::strerror(error));
        std::exit(2);
    }
    return pid;
}

// One run of the job: all copies at once. False when the job failed.
bool runOnce(Job& job, const Options& options, bool record)
{
    std::vector<pid_t> running;
    timedOut = 0;
    if (options.timeout > 0) {
        alarm(options.timeout);
    }
    const double begin = now();
    for (int copy = 0; copy < options.copies; ++copy) {
        running.push_back(start(job, options, copy));
    }
    long peak = 0;
    double cpu = 0;
    int badStatus = 0;
    while (!running.empty()) {
        int status = 0;
        rusage usage{};
        const pid_t pid = wait4(-1, &status, 0, &usage);
        if (pid < 0) {
            if (errno == EINTR && timedOut) {
                for (pid_t child : running) {
                    kill(child, SIGKILL);
                }
                while (wait4(-1, &status, 0, &usage) > 0) {
                }
                job.verdict = "timeout " + std::to_string(options.timeout);
                return false;
            }
            if (errno == EINTR) {
                continue;
            }
            std::perror("proc_timer: wait4");
            std::exit(2);
        }
        running.erase(std::remove(running.begin(), running.end(), pid), running.end());
        peak = std::max(peak, usage.ru_maxrss);
        cpu += seconds(usage.ru_utime) + seconds(usage.ru_stime);
        if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != options.alsoGood)) {
            badStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    const double elapsed = now() - begin;
    alarm(0);
    if (badStatus != 0) {
        job.verdict = "failed " + std::to_string(badStatus);
        return false;
    }
    if (record) {
        job.seconds.push_back(elapsed);
        job.peakKb.push_back(peak);
        job.cpuSeconds.push_back(cpu);
    }
    return true;
}

template <typename T>
T median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int usage()
{
    std::fprintf(stderr, "usage: proc_timer [-n RUNS] [-w WARMUPS] [-j COPIES] [-t TIMEOUT_S] [-o OUTPUT] [-e STATUS] "
                         "-- NAME INPUT COMMAND [ARGS...] [:: NAME INPUT COMMAND [ARGS...]]...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        const char* value = argv[++i];
        if (flag == "-n") {
            options.runs = std::atoi(value);
        } else if (flag == "-w") {
            options.warmups = std::atoi(value);
        } else if (flag == "-j") {
            options.copies = std::atoi(value);
        } else if (flag == "-t") {
            options.timeout = static_cast<unsigned>(std::atoi(value));
        } else if (flag == "-e") {
            options.alsoGood = std::atoi(value);
        } else if (flag == "-o") {
            options.output = value;
        } else {
            return usage();
        }
    }
    std::vector<Job> jobs;
    for (++i; i < argc;) {
        if (argc - i < 3) {
            return usage();
        }
        Job job;
        job.name = argv[i++];
        job.input = argv[i++];
        for (; i < argc && std::strcmp(argv[i], "::") != 0; ++i) {
            job.command.emplace_back(argv[i]);
        }
        ++i; // past "::"
        if (job.command.empty()) {
            return usage();
        }
        jobs.push_back(std::move(job));
    }
    if (jobs.empty() || options.runs < 1 || options.copies < 1) {
        return usage();
    }

    struct sigaction alarmAction {};
    alarmAction.sa_handler = onAlarm;
    sigemptyset(&alarmAction.sa_mask);
    alarmAction.sa_flags = 0; // no SA_RESTART: wait4 must return on the alarm
    sigaction(SIGALRM, &alarmAction, nullptr);

    for (int run = 0; run < options.warmups + options.runs; ++run) {
        for (Job& job : jobs) {
            if (job.verdict.empty()) {
                runOnce(job, options, run >= options.warmups);
            }
        }
    }
    for (const Job& job : jobs) {
        if (!job.verdict.empty()) {
            std::printf("%s %s\n", job.name.c_str(), job.verdict.c_str());
        } else {
            const auto [fastest, slowest] = std::minmax_element(job.seconds.begin(), job.seconds.end());
            std::printf("%s %.9f %.9f %.9f %ld %ld %zu %.9f\n", job.name.c_str(), median(job.seconds), *fastest,
                        *slowest, median(job.peakKb), *std::max_element(job.peakKb.begin(), job.peakKb.end()),
                        job.seconds.size(), median(job.cpuSeconds));
        }
    }
    return 0;
}
