// The callback between the unzip module and the component: events, messages, stopping,
// nesting, and a module call that breaks down.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PackageTestSupport.h"
#include "package/ZCallBck.h"
#include "support/RecordingPlatform.h"

namespace rovenza {
namespace {

using ::testing::HasSubstr;

TEST(ZipMessageText, LineEndsAtTheEndAreCut) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"", ""},          {"abc", "abc"},  {"abc\r\n", "abc"}, {"abc\n", "abc"},
        {"abc\r", "abc"},  {"\r\n", ""},    {"x\n\r", "x"},
        {"ab\nc", "ab"},            // one before the last is a line end: the last two go
        {"a\r\nb\r\n", "a\r\nb"},   // only the end is looked at
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

TEST_F(ExtractionTest, ReportsEveryMemberAndTheEndOfTheBatch) {
    const auto fwu = Package({{"Bootload.ini", ManifestText(4), false}, {"dir/", ""}, {"sub/fpga.bin", "0123456789"}});
    TZipMaster zip;
    Prepare(zip, fwu, work());
    zip.Verbose = true;
    std::vector<Event> events;
    Record(zip, events);
    zip.Extract();
    EXPECT_EQ(events, (std::vector<Event>{{"NewFile", "Bootload.ini", static_cast<std::int64_t>(ManifestText(4).size())},
                                          {"ProgressUpdate", " ", 0},
                                          {"Message", "Extracted Bootload.ini", 0},
                                          {"NewFile", "sub/fpga.bin", 10},
                                          {"ProgressUpdate", " ", 0},
                                          {"Message", "Extracted fpga.bin", 0},
                                          {"EndOfBatch", " ", 0}}));
}

TEST_F(ExtractionTest, CancelStopsAndFailsTheExtraction) {
    TZipMaster zip;
    Prepare(zip, Package({{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", "p"}, {"fpga.hex", "f"}}), work());
    zip.OnProgress = [](TZipMaster& sender, TProgressType type, const std::string& name, std::int64_t) {
        if (type == TProgressType::NewFile && name == "pic_USB.hex") sender.RequestCancel();
    };
    EXPECT_THROW(zip.Extract(), EZipExtractError);
    EXPECT_EQ(WorkListing(), std::vector<std::string>{"Bootload.ini"});
    EXPECT_FALSE(zip.Busy());
    EXPECT_FALSE(zip.CancelRequested());
}

TEST_F(ExtractionTest, NestedExtractReturnsAtOnce) {
    TZipMaster zip;
    Prepare(zip, Package({{"Bootload.ini", ManifestText(4)}, {"pic_USB.hex", "p"}}), work());
    int nested = 0;
    zip.OnProgress = [&](TZipMaster& sender, TProgressType type, const std::string&, std::int64_t) {
        if (type != TProgressType::NewFile) return;
        sender.Extract();  // would clear the work folder under the running extraction
        ++nested;
    };
    zip.Extract();
    EXPECT_EQ(nested, 2);
    EXPECT_EQ(zip.ExtractedCount(), 2);
    EXPECT_EQ(WorkListing(), (std::vector<std::string>{"Bootload.ini", "pic_USB.hex"}));
    EXPECT_FALSE(zip.Busy());
}

TEST_F(ExtractionTest, FailuresReachOnMessageAndOnlyABreakdownShowsTheFatalDialog) {
    RecordingOperator op;
    TZipMaster broken(&op);
    Prepare(broken, Package({{"Bootload.ini", ManifestText(4)}}), work());
    broken.OnProgress = [](TZipMaster&, TProgressType, const std::string&, std::int64_t) {
        throw std::logic_error("handler broke");
    };
    try {
        broken.Extract();
        ADD_FAILURE() << "no error";
    } catch (const EZipExtractError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Fatal DLL Error: abort exception"));
        EXPECT_THAT(e.what(), HasSubstr("handler broke"));
    }
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].title, "Rovenza");
    EXPECT_EQ(op.messages[0].text, "Fatal DLL Error: abort exception");
    EXPECT_FALSE(broken.Busy());
    EXPECT_EQ(WorkListing(), std::vector<std::string>{});  // no temporary file left behind

    // An ordinary failure is told to OnMessage, with a code, and shows nothing.
    TZipMaster refused(&op);
    Prepare(refused, RawPackage(BuildRawZip({{"..", "x"}})), work());
    std::vector<Event> events;
    Record(refused, events);
    EXPECT_THROW(refused.Extract(), EZipExtractError);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, "Message");
    EXPECT_THAT(events[0].text, HasSubstr("Member \"..\""));
    EXPECT_NE(events[0].number, 0);
    EXPECT_EQ(op.messages.size(), 1u);
}

}  // namespace
}  // namespace rovenza
