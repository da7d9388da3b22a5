// The callback between the unzip module and the component: events, messages, stopping,
// nesting, and a module call that breaks down.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PackageTestSupport.h"
#include "package/ZCallBck.h"
#include "platform/Operator.h"

namespace rovenza {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(ZipMessageText, LineEndsAtTheEndAreCut) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"", ""},
        {"abc", "abc"},
        {"abc\r\n", "abc"},
        {"abc\n", "abc"},
        {"abc\r", "abc"},
        {"ab\nc", "ab"},       // one before the last is a line end: the last two go
        {"ab\rc", "ab"},
        {"\n", ""},
        {"\r\n", ""},
        {"x\n\r", "x"},
        {"a\r\nb\r\n", "a\r\nb"},  // only the end is looked at
        {"a\nbc", "a\nbc"},
    };
    for (const auto& c : cases) EXPECT_EQ(CutMessageLineEnd(c.text), c.expected) << '"' << c.text << '"';
}

struct Event {
    std::string kind;
    std::string text;
    std::int64_t number;
    friend bool operator==(const Event&, const Event&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Event& e) {
        return os << e.kind << "(" << e.text << ", " << e.number << ")";
    }
};

void Record(TZipMaster& zip, std::vector<Event>& events) {
    zip.OnProgress = [&events](TZipMaster&, TProgressType type, const std::string& name, std::int64_t size) {
        static constexpr const char* kNames[] = {"NewFile", "ProgressUpdate", "EndOfBatch"};
        events.push_back({kNames[static_cast<int>(type)], name, size});
    };
    zip.OnMessage = [&events](TZipMaster&, std::int32_t code, const std::string& text) {
        events.push_back({"Message", text, code});
    };
}

TEST(ZipCallback, DispatchesToTheComponentsEvents) {
    TZipMaster zip;
    std::vector<Event> events;
    Record(zip, events);
    const ZCallbackRec records[] = {
        {&zip, ZipAction::NewFile, 0, 1234, "dir/pic_USB.hex"},
        {&zip, ZipAction::ProgressUpdate, 0, 99, "ignored"},
        {&zip, ZipAction::EndOfBatch, 0, 99, "ignored"},
        {&zip, ZipAction::Message, 7, 0, "bad\r\n"},
    };
    for (const auto& r : records) EXPECT_EQ(ZCallback(r), kZipCallbackGoOn);
    EXPECT_EQ(events, (std::vector<Event>{{"NewFile", "dir/pic_USB.hex", 1234},
                                          {"ProgressUpdate", " ", 0},
                                          {"EndOfBatch", " ", 0},
                                          {"Message", "bad", 7}}));

    zip.RequestCancel();
    EXPECT_EQ(ZCallback(records[1]), kZipCallbackStop);
    TZipMaster quiet;  // no events assigned: only the answer
    EXPECT_EQ(ZCallback({&quiet, ZipAction::Message, 1, 0, "x"}), kZipCallbackGoOn);
    EXPECT_EQ(ZCallback({nullptr, ZipAction::NewFile, 0, 0, "x"}), kZipCallbackGoOn);
}

TEST_F(ExtractionTest, ReportsEveryMemberAndTheEndOfTheBatch) {
    const auto fwu = Package({{"Bootload.ini", ManifestText(4), false}, {"dir/", ""}, {"sub/fpga.bin", "0123456789"}});
    TZipMaster zip;
    Prepare(zip, fwu, work());
    zip.Verbose = true;
    std::vector<Event> events;
    Record(zip, events);
    zip.Extract();
    const std::string manifest = ManifestText(4);
    EXPECT_EQ(events, (std::vector<Event>{{"NewFile", "Bootload.ini", static_cast<std::int64_t>(manifest.size())},
                                          {"ProgressUpdate", " ", 0},
                                          {"Message", "Extracted Bootload.ini", 0},
                                          {"NewFile", "sub/fpga.bin", 10},
                                          {"ProgressUpdate", " ", 0},
                                          {"Message", "Extracted fpga.bin", 0},
                                          {"EndOfBatch", " ", 0}}));
}

TEST_F(ExtractionTest, FailuresReachOnMessageToo) {
    const auto fwu = RawPackage(BuildRawZip({{"..", "x"}}));
    TZipMaster zip;
    Prepare(zip, fwu, work());
    std::vector<Event> events;
    Record(zip, events);
    EXPECT_THROW(zip.Extract(), EZipExtractError);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, "Message");
    EXPECT_THAT(events[0].text, HasSubstr("Member \"..\""));
    EXPECT_NE(events[0].number, 0);
}

TEST_F(ExtractionTest, CancelStopsAndFailsTheExtraction) {
    const auto fwu = Package({{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", "p"}, {"fpga.hex", "f"}});
    TZipMaster zip;
    Prepare(zip, fwu, work());
    zip.FSpecArgs = {"Bootload.ini", "pic_USB.hex", "fpga.hex"};
    zip.OnProgress = [](TZipMaster& sender, TProgressType type, const std::string& name, std::int64_t) {
        if (type == TProgressType::NewFile && name == "pic_USB.hex") sender.RequestCancel();
    };
    EXPECT_THROW(zip.Extract(), EZipExtractError);
    EXPECT_EQ(WorkListing(), std::vector<std::string>{"Bootload.ini"});
    EXPECT_FALSE(zip.Busy());
    EXPECT_FALSE(zip.CancelRequested());
    EXPECT_TRUE(zip.FSpecArgs.empty());
}

TEST_F(ExtractionTest, NestedExtractReturnsAtOnce) {
    const auto fwu = Package({{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", "p"}});
    TZipMaster zip;
    Prepare(zip, fwu, work());
    int nested = 0;
    zip.OnProgress = [&](TZipMaster& sender, TProgressType type, const std::string&, std::int64_t) {
        if (type != TProgressType::NewFile) return;
        EXPECT_TRUE(sender.Busy());
        sender.Extract();  // would clear the work folder under the running extraction
        ++nested;
    };
    zip.Extract();
    EXPECT_EQ(nested, 2);
    EXPECT_EQ(zip.ExtractedCount(), 2);
    EXPECT_EQ(WorkListing(), (std::vector<std::string>{"Bootload.ini", "pic_USB.hex"}));
    EXPECT_FALSE(zip.Busy());
}

class RecordingOperator final : public Operator {
public:
    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>&) override { return std::nullopt; }
    std::optional<int> chooseModuleType(int) override { return std::nullopt; }
    void showMessage(const std::string& title, const std::string& text) override { shown.emplace_back(title, text); }
    std::vector<std::pair<std::string, std::string>> shown;
};

TEST_F(ExtractionTest, BreakdownInsideTheModuleShowsTheFatalDialogAndFails) {
    const auto fwu = Package({{"Bootload.ini", ManifestText(4)}});
    RecordingOperator op;
    TZipMaster zip(&op);
    Prepare(zip, fwu, work());
    zip.OnProgress = [](TZipMaster&, TProgressType, const std::string&, std::int64_t) {
        throw std::logic_error("handler broke");
    };
    try {
        zip.Extract();
        ADD_FAILURE() << "no error";
    } catch (const EZipExtractError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Fatal DLL Error: abort exception"));
        EXPECT_THAT(e.what(), HasSubstr("handler broke"));
    }
    EXPECT_EQ(op.shown, (std::vector<std::pair<std::string, std::string>>{
                            {"Rovenza", "Fatal DLL Error: abort exception"}}));
    EXPECT_FALSE(zip.Busy());
    // No temporary file is left behind.
    EXPECT_EQ(WorkListing(), std::vector<std::string>{});

    // An ordinary failure shows nothing.
    TZipMaster quiet(&op);
    Prepare(quiet, RawPackage(BuildRawZip({{".", "x"}})), work());
    EXPECT_THROW(quiet.Extract(), EZipExtractError);
    EXPECT_EQ(op.shown.size(), 1u);
}

}  // namespace
}  // namespace rovenza
