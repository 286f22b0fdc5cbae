// lustra batch: one `lustra render` a row of a batch file, several at once,
// each a child process of this same program (its own module instance). The
// cores are shared out: a row renders its frames with the render workers
// that are left when fewer rows than cores run at once.
//
// A row renders into a hidden name next to its output and is moved into
// place only when its render succeeded, so an output that exists is
// complete: a re-run skips it, and neither a failed nor an interrupted row
// leaves a file that looks finished.
#include "BatchFile.h"
#include "Commands.h"
#include "Errors.h"
#include "Installation.h"
#include "MediaOutput.h"
#include "OutputSafety.h"
#include "RenderPipeline.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace lustra::cli {

const char *const kBatchHelp =
    R"(usage: lustra batch JOBS.csv|JOBS.json [batch options] [render options]

Renders every row of a batch file with `lustra render`, several rows at once.
Render options on the command line (--background, --preset, --set ...) apply
to every row; a row's own columns come after them and win.

Columns (CSV header or JSON member names; case does not matter):
  output       the output file, a pattern with {column} fields, e.g.
               titles/{name}.png ({row}: the row number); a field's value
               never makes a folder or a frame number ('/', '%' become '_')
  text         the title's text (render --text; several lines in quotes)
  title        the title picture or video (render --title)
  background   render --background FILE|#RRGGBB
  settings     render --settings FILE
  preset       render --preset NAME
  set          FIELD=VALUE words, separated by spaces or ';' (render --set)
  animate      FIELD=KEYS words, separated by spaces or ';' (render --animate)
  keyframes    render --keyframes FILE
  frames       render --frames A-B
  options      further render options, split into words like a shell does
  any other    a template field for {name} in output and --text-template
An empty cell leaves the option out. CSV: RFC 4180 (quotes, "" for a quote,
line breaks inside quotes; ';' separates when the header has no comma), UTF-8
with or without a byte order mark. JSON:
an array of objects; a member may be a list ("set": ["glowOn=on", ...]).

Batch options:
  -o, --output PATTERN  the output of rows without an output column
  --text-template TEXT  the text of each row from fields, e.g.
                        "{name}\n{role}" (\n: a line break)
  -j, --jobs N          rows rendered at once (default: the number of cores);
                        with fewer rows than cores at once, each row renders
                        its frames with the cores left (render -j)
  --shard I/N           render only share I of N (1 <= I <= N): the rows r
                        with (r - 1) mod N = I - 1
  -y, --overwrite       render every row again, replacing existing outputs
                        (by default a row whose output exists is skipped)
  --dry-run             print each row's render command line, render nothing
  -q, --quiet           only failures, no line a row
  -h, --help            this text

Exit codes: 0 every row rendered or skipped; 1 the batch file cannot be read;
2 usage error (options, or a batch file that is not a valid table: nothing is
rendered); 10 + the number of failed rows (11 = one row failed, at most 110
= 100 or more); 130 interrupted with Ctrl-C (rows under way stop, their
outputs are not kept).
)";

namespace {

std::atomic<int> pendingSignal{0};
std::atomic<int> signalsSeen{0};

extern "C" void onBatchSignal(int number) {
    pendingSignal.store(number);
    signalsSeen.fetch_add(1);
}

extern "C" void onChild(int) {}

std::string shellQuoted(const std::string &word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789_-+=/.,:%@") == std::string::npos)
        return word;
    std::string out = "'";
    for (const char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool sameFile(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The files a render command line reads.
std::vector<std::string> inputFiles(const std::vector<std::string> &arguments) {
    static const char *const options[] = {"--title", "--background", "--settings", "--text-file",
                                          "--keyframes"};
    std::vector<std::string> files;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        for (const char *option : options) {
            const std::string name(option);
            if (argument == name && i + 1 < arguments.size())
                files.push_back(arguments[i + 1]);
            else if (argument.rfind(name + "=", 0) == 0)
                files.push_back(argument.substr(name.size() + 1));
        }
        if (argument == "--source" && i + 1 < arguments.size()) {
            const std::string &value = arguments[i + 1];
            if (value.find('=') != std::string::npos)
                files.push_back(value.substr(value.find('=') + 1));
        }
    }
    return files;
}

struct Job {
    BatchJob job;
    OutputKind kind = OutputKind::Picture;
    std::vector<std::string> inputs;
};

// Where a row renders before its output is moved into place: a hidden file
// beside the output with the same extension, or for a numbered sequence a
// hidden folder beside it holding the pictures.
struct Staging {
    std::string renderOutput; // what the child writes
    std::string folder;       // for a sequence, else ""
};

Staging stagingFor(const Job &job, int row) {
    const fs::path output(job.job.output);
    const fs::path directory = output.parent_path();
    const std::string stem =
        ".lustra-batch-" + std::to_string(getpid()) + "-" + std::to_string(row);
    Staging staging;
    if (job.kind == OutputKind::Sequence) {
        staging.folder = (directory / stem).string();
        staging.renderOutput = (directory / stem / output.filename()).string();
    } else {
        staging.renderOutput = (directory / (stem + "-" + output.filename().string())).string();
    }
    return staging;
}

void removeStaging(const Staging &staging) {
    std::error_code ignored;
    if (!staging.folder.empty())
        fs::remove_all(staging.folder, ignored);
    else
        fs::remove(staging.renderOutput, ignored);
}

// Moves a finished row's files into place; throws Failure.
void publish(const Job &job, const Staging &staging, bool replace) {
    if (staging.folder.empty()) {
        moveIntoPlace(staging.renderOutput, job.job.output, replace);
        return;
    }
    const fs::path directory = fs::path(job.job.output).parent_path();
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(staging.folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string &name : names)
        moveIntoPlace(staging.folder + "/" + name, (directory / name).string(), replace);
    std::error_code ignored;
    fs::remove(staging.folder, ignored);
}

// Whether a row's output is there already (a sequence: any of its pictures).
bool outputComplete(const Job &job) {
    if (job.kind == OutputKind::Sequence)
        return !existingSequenceFiles(job.job.output, 0, -1).empty();
    std::error_code error;
    return fs::exists(job.job.output, error);
}

// The line that says why a child failed: its last "lustra: " line (its
// own error), else its last line, with the staged name put back.
std::string failureLine(const std::string &log, const Staging &staging, const std::string &output,
                        int status) {
    std::string chosen, last;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.rfind("(see lustra", 0) == 0) continue;
        last = line;
        if (line.rfind("lustra: ", 0) == 0) chosen = line.substr(8);
    }
    if (chosen.empty()) chosen = last;
    for (size_t at; !staging.renderOutput.empty() &&
                    (at = chosen.find(staging.renderOutput)) != std::string::npos;)
        chosen.replace(at, staging.renderOutput.size(), output);
    if (chosen.empty()) {
        if (WIFSIGNALED(status))
            chosen = std::string("render ended by signal ") + strsignal(WTERMSIG(status));
        else
            chosen = "render failed with exit code " + std::to_string(WEXITSTATUS(status));
    }
    return chosen;
}

struct Running {
    size_t job = 0;
    Staging staging;
    FILE *log = nullptr;
    std::chrono::steady_clock::time_point start;
};

struct Options {
    std::string file;
    BatchDefaults defaults;
    int jobs = 0;
    int shardIndex = 1, shardCount = 1;
    bool overwrite = false, dryRun = false, quiet = false;
};

Options parseOptions(const std::vector<std::string> &arguments, bool &help) {
    Options options;
    ArgumentReader reader(arguments);
    std::string value;
    while (!reader.done()) {
        const std::string argument = reader.next();
        if (argument == "-h" || argument == "--help") {
            help = true;
            return options;
        } else if (reader.option(argument, "-o", "--output", value)) {
            options.defaults.outputPattern = value;
        } else if (reader.option(argument, "--text-template", value)) {
            options.defaults.textTemplate = value;
        } else if (reader.option(argument, "-j", "--jobs", value)) {
            options.jobs = int(parseInteger(value, "--jobs", 1, 1024));
        } else if (argument.size() > 2 && argument.compare(0, 2, "-j") == 0 &&
                   std::isdigit(static_cast<unsigned char>(argument[2]))) {
            options.jobs = int(parseInteger(argument.substr(2), "-j", 1, 1024)); // -j4
        } else if (reader.option(argument, "--shard", value)) {
            const size_t slash = value.find('/');
            if (slash == std::string::npos) throw UsageError("--shard needs I/N, e.g. --shard 2/8");
            options.shardCount =
                int(parseInteger(value.substr(slash + 1), "--shard " + value, 1, 1000000));
            options.shardIndex = int(
                parseInteger(value.substr(0, slash), "--shard " + value, 1, options.shardCount));
        } else if (argument == "-y" || argument == "--overwrite") {
            options.overwrite = true;
        } else if (argument == "-n" || argument == "--no-overwrite") {
            // The default: a row whose output exists is skipped.
        } else if (argument == "--dry-run") {
            options.dryRun = true;
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else if (options.file.empty() && !argument.empty() && argument[0] != '-') {
            if (!options.defaults.renderArguments.empty())
                throw UsageError("batch: give the batch file before the render options");
            options.file = argument;
        } else {
            if (options.file.empty())
                throw UsageError("batch: give the batch file before the render options (\"" +
                                 argument + "\")");
            // A render option and its value, for the render of every row.
            options.defaults.renderArguments.push_back(argument);
        }
    }
    if (options.file.empty()) throw UsageError("batch needs a batch file: lustra batch JOBS.csv");
    return options;
}

std::string readWhole(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure(path + ": cannot read the batch file: " + std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) throw Failure(path + ": cannot read the batch file");
    return content.str();
}

// Every row made into a job, checked before anything runs; the problems of
// all rows are listed together. Returns false when there are problems.
bool prepareJobs(const Options &options, const BatchTable &table, std::vector<Job> &jobs) {
    std::vector<std::string> problems;
    std::map<std::string, int> outputs; // normalised output -> row
    for (const BatchRow &row : table.rows) {
        Job job;
        try {
            job.job = makeBatchJob(row, options.defaults);
        } catch (const BatchFileError &error) {
            problems.push_back(options.file + " line " + std::to_string(error.line()) + ": " +
                               error.what());
            continue;
        }
        const std::string where = options.file + " line " + std::to_string(row.line) + ": row " +
                                  std::to_string(row.number) + ": ";
        try {
            job.kind = classifyOutput(job.job.output);
        } catch (const UsageError &error) {
            problems.push_back(where + error.what());
            continue;
        }
        if (job.kind == OutputKind::Sequence &&
            fs::path(job.job.output).parent_path().string().find('%') != std::string::npos) {
            problems.push_back(where + job.job.output +
                               ": number the pictures in the file name, not in a folder name");
            continue;
        }
        const std::string key = fs::absolute(fs::path(job.job.output)).lexically_normal().string();
        const auto [at, fresh] = outputs.emplace(key, row.number);
        if (!fresh) {
            problems.push_back(where + "the output " + job.job.output + " is also row " +
                               std::to_string(at->second) + "'s");
            continue;
        }
        job.inputs = inputFiles(job.job.arguments);
        job.inputs.push_back(options.file);
        bool refused = false;
        if (job.kind != OutputKind::Sequence)
            for (const std::string &input : job.inputs)
                if (!refused && sameFile(job.job.output, input)) {
                    problems.push_back(where + "the output " + job.job.output +
                                       " is the same file as the input " + input);
                    refused = true;
                }
        if (!refused) jobs.push_back(std::move(job));
    }
    const size_t shown = std::min<size_t>(problems.size(), 20);
    for (size_t i = 0; i < shown; ++i) std::fprintf(stderr, "lustra: %s\n", problems[i].c_str());
    if (problems.size() > shown)
        std::fprintf(stderr, "lustra: ... and %zu more problems\n", problems.size() - shown);
    if (!problems.empty())
        std::fprintf(stderr, "lustra: %s: nothing was rendered\n", options.file.c_str());
    return problems.empty();
}

// Columns that are neither options nor used by a template: most likely a
// misspelt option column; said once.
void noteUnusedColumns(const Options &options, const BatchTable &table) {
    std::string templates = options.defaults.outputPattern + options.defaults.textTemplate;
    for (const BatchRow &row : table.rows)
        if (const BatchCell *output = row.cell("output"))
            for (const std::string &value : output->values) templates += value;
    for (const std::string &column : table.columns) {
        const auto &known = batchOptionColumns();
        if (std::find(known.begin(), known.end(), column) != known.end()) continue;
        std::string lowered = templates;
        for (char &c : lowered) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (lowered.find("{" + column + "}") == std::string::npos)
            std::fprintf(stderr,
                         "lustra: note: the column \"%s\" is not a batch column and no template "
                         "uses it\n",
                         column.c_str());
    }
}

class BatchRunner {
  public:
    BatchRunner(const Options &options, std::vector<Job> &jobs) : options_(options), jobs_(jobs) {}

    int run(const std::vector<size_t> &selected) {
        sigset_t block, previous;
        sigemptyset(&block);
        for (const int number : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, number);
        sigprocmask(SIG_BLOCK, &block, &previous);
        struct sigaction action = {}, oldInt, oldTerm, oldHup, oldChld;
        sigemptyset(&action.sa_mask);
        action.sa_handler = onBatchSignal;
        sigaction(SIGINT, &action, &oldInt);
        sigaction(SIGTERM, &action, &oldTerm);
        sigaction(SIGHUP, &action, &oldHup);
        // A signal the caller ignores stays ignored.
        if (oldInt.sa_handler == SIG_IGN) sigaction(SIGINT, &oldInt, nullptr);
        if (oldTerm.sa_handler == SIG_IGN) sigaction(SIGTERM, &oldTerm, nullptr);
        if (oldHup.sa_handler == SIG_IGN) sigaction(SIGHUP, &oldHup, nullptr);
        action.sa_handler = onChild;
        sigaction(SIGCHLD, &action, &oldChld);
        previousMask_ = previous;
        pendingSignal.store(0);
        signalsSeen.store(0);

        const int parallel = options_.jobs > 0 ? options_.jobs : coreCount();
        total_ = selected.size();
        // The render workers of a row: the cores over the rows under way at
        // once, at least one (a row's own -j wins).
        rowWorkers_ = std::clamp(coreCount() / int(std::min<size_t>(parallel, total_)), 1, 16);
        size_t next = 0;
        int forwarded = 0;
        for (;;) {
            const bool stopping = signalsSeen.load() > 0;
            while (!stopping && running_.size() < size_t(parallel) && next < selected.size())
                start(selected[next++]);
            if (running_.empty() && (stopping || next >= selected.size())) break;
            if (!running_.empty()) sigsuspend(&previous);
            // Ctrl-C reaches the batch alone (children have process groups
            // of their own): each signal is passed on once to every row
            // under way, so a first Ctrl-C lets them stop after the current
            // frame and a second ends them at once.
            const int seen = signalsSeen.load();
            if (seen > forwarded) {
                for (const auto &[pid, row] : running_) kill(pid, pendingSignal.load());
                forwarded = seen;
            }
            reap();
        }
        const bool interrupted = signalsSeen.load() > 0;
        if (interrupted) skippedByStop_ = selected.size() - next;

        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
        sigaction(SIGHUP, &oldHup, nullptr);
        sigaction(SIGCHLD, &oldChld, nullptr);
        sigprocmask(SIG_SETMASK, &previous, nullptr);

        if (!options_.quiet || failed_ > 0 || interrupted) {
            std::string summary = "batch: " + std::to_string(rendered_) + " rendered, " +
                                  std::to_string(skipped_) + " skipped, " +
                                  std::to_string(failed_) + " failed";
            if (interrupted)
                summary += ", interrupted (" + std::to_string(skippedByStop_ + stopped_) +
                           " not rendered)";
            if (!failedRows_.empty()) {
                summary += " (rows";
                for (size_t i = 0; i < failedRows_.size() && i < 50; ++i)
                    summary += " " + std::to_string(failedRows_[i]);
                summary += failedRows_.size() > 50 ? " ...)" : ")";
            }
            std::fprintf(stderr, "%s\n", summary.c_str());
        }
        if (interrupted) return kExitInterrupted;
        if (failed_ > 0) return 10 + std::min(failed_, 100);
        return kExitSuccess;
    }

  private:
    void report(const Job &job, const std::string &what) {
        ++finished_;
        std::fprintf(stderr, "[%zu/%zu] row %d %s\n", finished_, total_, job.job.row, what.c_str());
    }

    void start(size_t index) {
        Job &job = jobs_[index];
        if (!options_.overwrite && outputComplete(job)) {
            ++skipped_;
            if (!options_.quiet) report(job, job.job.output + ": exists, skipped");
            return;
        }
        Running running;
        running.job = index;
        running.staging = stagingFor(job, job.job.row);
        running.start = std::chrono::steady_clock::now();
        std::string failure;
        try {
            const fs::path parent = fs::path(job.job.output).parent_path();
            if (!parent.empty()) fs::create_directories(parent);
            if (!running.staging.folder.empty()) {
                fs::remove_all(running.staging.folder);
                fs::create_directory(running.staging.folder);
            }
        } catch (const fs::filesystem_error &error) {
            failure = job.job.output + ": cannot make its folder: " + error.code().message();
        }
        running.log = failure.empty() ? std::tmpfile() : nullptr;
        if (failure.empty() && !running.log) failure = "cannot make a temporary file for the log";
        if (!failure.empty()) {
            fail(job, failure);
            return;
        }
        std::vector<std::string> command = {"lustra", "render", "-j", std::to_string(rowWorkers_)};
        command.insert(command.end(), job.job.arguments.begin(), job.job.arguments.end());
        command.insert(command.end(), {"--quiet", "-n", "-o", running.staging.renderOutput});
        std::vector<char *> argv;
        for (std::string &part : command) argv.push_back(part.data());
        argv.push_back(nullptr);
        const int logFd = fileno(running.log);
        fcntl(logFd, F_SETFD, FD_CLOEXEC); // not inherited by the other rows
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) signal(number, SIG_DFL);
            sigprocmask(SIG_SETMASK, &previousMask_, nullptr);
            const int devNull = ::open("/dev/null", O_RDWR);
            dup2(devNull, 0);
            dup2(devNull, 1);
            dup2(logFd, 2);
            execv("/proc/self/exe", argv.data());
            const char message[] = "lustra: cannot start lustra render (/proc/self/exe)\n";
            if (::write(2, message, sizeof message - 1) < 0) {
            }
            _exit(kExitFailure);
        }
        if (pid < 0) {
            std::fclose(running.log);
            removeStaging(running.staging);
            fail(job, std::string("cannot start a render: ") + std::strerror(errno));
            return;
        }
        running_.emplace(pid, std::move(running));
    }

    void fail(const Job &job, const std::string &why) {
        ++failed_;
        failedRows_.push_back(job.job.row);
        report(job, "FAILED: " + job.job.output + ": " + why);
    }

    void reap() {
        for (;;) {
            int status = 0;
            const pid_t pid = waitpid(-1, &status, WNOHANG);
            if (pid <= 0) return;
            const auto found = running_.find(pid);
            if (found == running_.end()) continue;
            Running running = std::move(found->second);
            running_.erase(found);
            finish(running, status);
        }
    }

    void finish(Running &running, int status) {
        const Job &job = jobs_[running.job];
        std::string log;
        std::rewind(running.log);
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, running.log)) > 0;)
            log.append(buffer, n);
        std::fclose(running.log);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - running.start).count();
        const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (ok) {
            // A render that ran to its end, even if Ctrl-C came after it.
            try {
                publish(job, running.staging, options_.overwrite);
            } catch (const Failure &error) {
                removeStaging(running.staging);
                fail(job, error.what());
                return;
            }
            ++rendered_;
            if (!options_.quiet) {
                char time[32];
                std::snprintf(time, sizeof time, " (%.1f s)", seconds);
                report(job, job.job.output + time);
            }
            return;
        }
        removeStaging(running.staging);
        if (signalsSeen.load() > 0) {
            // Stopped by Ctrl-C, whether it finished or not: nothing kept.
            ++stopped_;
            report(job, job.job.output + ": interrupted, not kept");
            return;
        }
        fail(job, failureLine(log, running.staging, job.job.output, status));
    }

    const Options &options_;
    std::vector<Job> &jobs_;
    std::map<pid_t, Running> running_;
    sigset_t previousMask_;
    size_t total_ = 0, finished_ = 0, skippedByStop_ = 0;
    int rowWorkers_ = 1;
    int rendered_ = 0, skipped_ = 0, failed_ = 0, stopped_ = 0;
    std::vector<int> failedRows_;
};

} // namespace

int commandBatch(const std::vector<std::string> &arguments) {
    bool help = false;
    const Options options = parseOptions(arguments, help);
    if (help) {
        std::fputs(kBatchHelp, stdout);
        return kExitSuccess;
    }
    const std::string content = readWhole(options.file);
    BatchTable table;
    try {
        table = parseBatchFile(content, batchFormatOfPath(options.file));
    } catch (const BatchFileError &error) {
        std::fprintf(stderr, "lustra: %s%s: %s; nothing was rendered\n", options.file.c_str(),
                     error.line() > 0 ? (" line " + std::to_string(error.line())).c_str() : "",
                     error.what());
        return kExitUsage;
    }
    std::vector<Job> jobs;
    if (!prepareJobs(options, table, jobs)) return kExitUsage;
    if (!options.quiet) noteUnusedColumns(options, table);
    std::vector<size_t> selected;
    for (size_t i = 0; i < jobs.size(); ++i)
        if (inShard(jobs[i].job.row, options.shardIndex, options.shardCount)) selected.push_back(i);
    if (options.dryRun) {
        // The program as it runs, so that the lines can be pasted.
        std::error_code error;
        std::string program = fs::read_symlink("/proc/self/exe", error).string();
        if (error || program.empty()) program = "lustra";
        for (const size_t i : selected) {
            std::string line = shellQuoted(program) + " render";
            for (const std::string &word : jobs[i].job.arguments) line += " " + shellQuoted(word);
            line += " -o " + shellQuoted(jobs[i].job.output);
            std::printf("%s\n", line.c_str());
        }
        return kExitSuccess;
    }
    if (selected.empty()) {
        if (!options.quiet) std::fprintf(stderr, "batch: no rows to render\n");
        return kExitSuccess;
    }
    // The VXHOME every row works in, made once here rather than by rows
    // racing each other on first use.
    prepareHome();
    return BatchRunner(options, jobs).run(selected);
}

} // namespace lustra::cli
