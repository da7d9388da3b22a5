#include "CliOutput.h"

#include <map>
#include <ostream>

#include "CliOptions.h"
#include "JsonLine.h"
#include "frontend/Progress.h"

namespace rovenza {

namespace {

using std::chrono::milliseconds;

constexpr int kBarCells = 24;
constexpr milliseconds kRedrawInterval{100};   // terminal: at most ten redraws a second
constexpr milliseconds kProgressInterval{250}; // JSON: at most four progress events a second
constexpr int kLineStep = 10;                  // plain lines: one per 10 %

std::string Seconds(milliseconds span) { return std::to_string(span.count() / 1000) + " s"; }

// "PC000001: Uploading", the instrument named where the stage does not name it.
std::string StageLabel(const ProgressSample& sample) {
    if (sample.instrument.empty() || sample.stage.empty()) return sample.stage;
    return sample.instrument + ": " + sample.stage;
}

class TextReporter final : public CliReporter {
public:
    TextReporter(const CliOptions& options, std::ostream& out, std::ostream& err, const CliDisplay& display)
        : quiet_(options.quiet), verbose_(options.verbose), out_(out), err_(err), display_(display) {}

    void start(std::string_view, const std::string&) override {}
    void instrument(const RunInstrument&) override {}

    void progress(const ProgressSample& sample) override {
        if (quiet_) return;
        Lane& lane = lanes_[sample.index];
        if (display_.terminal) {
            const bool stageChanged = sample.stage != lane.last.stage;
            lane.last = sample;
            const std::string line = TerminalLine(sample, display_.width);
            const bool due = stageChanged || sample.elapsed - drawnAt_ >= kRedrawInterval;
            if (sample.index == 0) {
                if (line != drawn_ && due) draw(line, sample.elapsed);
                return;
            }
            blockBehind_ = blockBehind_ || line != lane.line;
            lane.line = line;
            if (blockBehind_ && due) drawBlock(sample.elapsed);
            return;
        }
        const std::string prefix = "[" + ElapsedText(sample.elapsed) + "] ";
        for (const auto& passed : sample.passedStages) {
            ProgressSample earlier = sample;
            earlier.stage = passed;
            err_ << prefix << StageLabel(earlier) << "...\n";
        }
        const std::string label = StageLabel(sample);
        if (const auto line = lane.lines.next(label, sample.percent)) err_ << prefix << *line << '\n' << std::flush;
        if (sample.waiting && !lane.waitTold && !label.empty()) {
            err_ << prefix << ProgressCaption(label, sample.percent) << " waiting for the instrument\n" << std::flush;
            lane.waitTold = true;
        }
        if (!sample.waiting) lane.waitTold = false;
    }

    void diagnostic(const std::string& line) override {
        if (verbose_) say(CliVoice(line));
    }
    void message(const std::string& title, const std::string& text) override {
        if (!quiet_) say(CliVoice(title.empty() ? text : title + ": " + text));
    }
    void interrupted() override {
        if (!quiet_) say(CliVoice(kInterruptNotice));
    }

    void result(const CliRunResult& result) override {
        if (blockRows_ > 0 && blockBehind_) drawBlock(drawnAt_);  // the instruments as they ended
        if (!drawn_.empty() || blockRows_ > 0) err_ << '\n';
        drawn_.clear();
        blockRows_ = 0;
        err_ << std::flush;
        if (!result.message.empty()) out_ << result.message << '\n' << std::flush;
        if (quiet_) return;
        if (result.reason) err_ << CliVoice(*result.reason) << '\n';
        if (result.fault) err_ << CliVoice(*result.fault) << '\n';
        err_ << std::flush;
    }

private:
    // What one line of progress has shown: the run's (0), or an instrument's (--parallel).
    struct Lane {
        ProgressLines lines{kLineStep};
        bool waitTold = false;  // plain lines: the wait under way has had its line
        ProgressSample last;
        std::string line;       // terminal: its latest line
    };

    void draw(const std::string& line, milliseconds at) {
        // Spaces cover what a longer line before left; no control sequence is needed.
        const std::size_t cover = drawn_.size() > line.size() ? drawn_.size() - line.size() : 0;
        err_ << '\r' << line << std::string(cover, ' ');
        if (cover > 0) err_ << '\r' << line;
        err_ << std::flush;
        drawn_ = line;
        drawnAt_ = at;
    }
    // The instruments' lines, one row each in their order, drawn over the rows drawn before
    // (the cursor goes back up to the first; each row is cleared to its end).
    void drawBlock(milliseconds at) {
        std::string text;
        if (blockRows_ > 1) text += "\x1b[" + std::to_string(blockRows_ - 1) + "A";
        text += '\r';
        blockRows_ = 0;
        for (const auto& [index, lane] : lanes_) {
            if (index == 0) continue;
            if (blockRows_++ > 0) text += '\n';
            text += lane.line + "\x1b[K";
        }
        err_ << text << std::flush;
        blockBehind_ = false;
        drawn_.clear();  // the run's line, if one was drawn, is the block's first row now
        drawnAt_ = at;
    }
    // A line of its own; on a terminal the progress is taken away first and drawn again after.
    void say(const std::string& text) {
        if (display_.terminal && blockRows_ > 0) {
            if (blockRows_ > 1) err_ << "\x1b[" << blockRows_ - 1 << 'A';
            err_ << "\r\x1b[J" << text << '\n';
            blockRows_ = 0;
            drawBlock(drawnAt_);
            return;
        }
        if (display_.terminal && !drawn_.empty()) {
            err_ << '\r' << std::string(drawn_.size(), ' ') << '\r' << text << '\n';
            const std::string line = drawn_;
            drawn_.clear();
            draw(line, drawnAt_);
            return;
        }
        err_ << text << '\n' << std::flush;
    }

    bool quiet_;
    bool verbose_;
    std::ostream& out_;
    std::ostream& err_;
    CliDisplay display_;
    std::map<int, Lane> lanes_;
    std::string drawn_;         // terminal: the run's line on screen
    std::size_t blockRows_ = 0;  // terminal: the rows of the instruments' lines on screen
    bool blockBehind_ = false;   // terminal: an instrument's latest line is not on screen yet
    milliseconds drawnAt_{-kRedrawInterval};
};

class JsonReporter final : public CliReporter {
public:
    JsonReporter(const CliOptions& options, std::ostream& out) : quiet_(options.quiet), out_(out) {}

    void start(std::string_view family, const std::string& package) override {
        emit(JsonLine()
                 .add("event", "start")
                 .add("program", "rovenza-cli")
                 .add("version", ROVENZA_VERSION)
                 .add("family", family)
                 .add("package", package));
    }
    void instrument(const RunInstrument& instrument) override {
        emit(JsonLine().add("event", "instrument").add("path", instrument.path).add("serial", instrument.serial));
    }
    void progress(const ProgressSample& sample) override {
        Lane& lane = lanes_[sample.index];
        const double elapsed = static_cast<double>(sample.elapsed.count()) / 1000.0;
        // An instrument's own events (--parallel) name it; the run's keep their shape.
        const auto event = [&](std::string_view name) {
            JsonLine line;
            line.add("event", name);
            if (sample.index > 0) line.add("serial", sample.instrument).add("index", sample.index);
            return line;
        };
        for (const auto& passed : sample.passedStages) emit(event("stage").add("stage", passed).add("elapsed", elapsed));
        const bool stageChanged = sample.stage != lane.stage || !sample.passedStages.empty();
        if (stageChanged) {
            lane.stage = sample.stage;
            if (!sample.stage.empty()) emit(event("stage").add("stage", sample.stage).add("elapsed", elapsed));
        }
        if (sample.stage.empty()) return;
        const bool moved = sample.percent != lane.percent || sample.waiting.has_value() != lane.waiting;
        if (!stageChanged && (!moved || sample.elapsed - lane.sentAt < kProgressInterval)) return;
        lane.percent = sample.percent;
        lane.waiting = sample.waiting.has_value();
        lane.sentAt = sample.elapsed;
        emit(event("progress")
                 .add("stage", sample.stage)
                 .add("done", sample.done)
                 .add("total", sample.total)
                 .add("percent", sample.percent)
                 .add("elapsed", elapsed)
                 .add("waiting", lane.waiting));
    }
    void diagnostic(const std::string& line) override { emit(JsonLine().add("event", "diagnostic").add("text", line)); }
    void message(const std::string& title, const std::string& text) override {
        emit(JsonLine().add("event", "message").add("title", title).add("text", text));
    }
    void interrupted() override { emit(JsonLine().add("event", "interrupt").add("text", kInterruptNotice)); }
    void result(const CliRunResult& result) override {
        out_ << JsonLine()
                    .add("event", "result")
                    .add("message", result.message.empty() ? std::nullopt : std::optional<std::string>(result.message))
                    .add("kind", result.outcome.kind)
                    .add("exit", static_cast<int>(result.outcome.exit))
                    .add("reason", result.reason)
                    .add("fault", result.fault)
                    .str()
             << '\n'
             << std::flush;
    }

private:
    // What the events of the run (0) or of one instrument (--parallel) have told so far.
    struct Lane {
        std::string stage;
        int percent = -1;
        bool waiting = false;
        milliseconds sentAt{-kProgressInterval};
    };

    // Every event but the result, which --quiet keeps alone.
    void emit(const JsonLine& line) {
        if (!quiet_) out_ << line.str() << '\n' << std::flush;
    }

    bool quiet_;
    std::ostream& out_;
    std::map<int, Lane> lanes_;
};

}  // namespace

std::unique_ptr<CliReporter> MakeReporter(const CliOptions& options, std::ostream& out, std::ostream& err,
                                          const CliDisplay& display) {
    if (options.json) return std::make_unique<JsonReporter>(options, out);
    return std::make_unique<TextReporter>(options, out, err, display);
}

std::string CliVoice(std::string_view text) {
    while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
    return "rovenza-cli: " + std::string(text);
}

std::string ElapsedText(milliseconds elapsed) {
    const long long seconds = elapsed.count() < 0 ? 0 : elapsed.count() / 1000;
    const auto two = [](long long n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    if (seconds >= 3600) return std::to_string(seconds / 3600) + ":" + two(seconds / 60 % 60) + ":" + two(seconds % 60);
    return std::to_string(seconds / 60) + ":" + two(seconds % 60);
}

std::string TerminalLine(const ProgressSample& sample, int width) {
    const std::size_t room = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
    std::string head = sample.stage.empty() ? std::string("Preparing") : StageLabel(sample);
    std::string bar;
    std::string tail;
    if (!sample.stage.empty()) {
        const int percent = sample.percent < 0 ? 0 : sample.percent > 100 ? 100 : sample.percent;
        const int cells = percent * kBarCells / 100;
        bar = "  [" + std::string(static_cast<std::size_t>(cells), '#') +
              std::string(static_cast<std::size_t>(kBarCells - cells), '.') + "]";
        const std::string number = std::to_string(percent);
        tail = " " + std::string(3 - std::min<std::size_t>(3, number.size()), ' ') + number + "%";
    }
    tail += "  " + ElapsedText(sample.elapsed);
    if (sample.waiting) tail += "  waiting for the instrument " + Seconds(*sample.waiting);
    // The line must not wrap, or the carriage return would redraw only its last row: the bar
    // gives way first, then the end of the stage text.
    if (head.size() + bar.size() + tail.size() > room) bar.clear();
    if (head.size() + tail.size() > room) head.resize(room > tail.size() + 8 ? room - tail.size() : 8);
    std::string line = head + bar + tail;
    if (line.size() > room) line.resize(room);
    return line;
}

}  // namespace rovenza
