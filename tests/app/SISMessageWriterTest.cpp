// Protocol lines as the importer reads them: streams, field order, the
// pending "missing" queue, and fields that must not break a line.
#include "app/SISMessageWriter.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <functional>

namespace {

struct WriterCase
{
    const char *name;
    std::function<void(SISMessageWriter &)> calls;
    QString out;
    QString err;
};

class Writer : public ::testing::TestWithParam<WriterCase>
{
};

TEST_P(Writer, WritesTheProtocolLines)
{
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    SISMessageWriter writer(&out, &err);
    GetParam().calls(writer);
    EXPECT_EQ(QString::fromUtf8(out.data()).toStdString(), GetParam().out.toStdString());
    EXPECT_EQ(QString::fromUtf8(err.data()).toStdString(), GetParam().err.toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Writer,
    ::testing::Values(
        WriterCase{"progress_frame",
                   [](SISMessageWriter &w) {
                       w.outProgress("start_progress", 0);
                       w.outProgress("end_progress", -1);
                       w.outSetting("start_setting", -1);
                   },
                   "start_progress\t0\nend_progress\nstart_setting\n", ""},
        WriterCase{"test_puts_group_before_success",
                   [](SISMessageWriter &w) { w.outTest("success", "connection", "Connection Successful."); },
                   "test\tconnection\tsuccess\tConnection Successful.\n", ""},
        WriterCase{"empty_progress_texts",
                   [](SISMessageWriter &w) {
                       w.outProgress_warning("");
                       w.outProgress_warning("slow");
                       w.outProgress_increment("");
                   },
                   "inc_progress\nwarn_progress\tslow\ninc_progress\n", ""},
        WriterCase{"missing_waits_for_warning_and_is_not_repeated",
                   [](SISMessageWriter &w) {
                       w.outMissing("dsn", "ODBC DSN missing or blank.");
                       w.outMissing("dsn", "ODBC DSN missing or blank.");
                       w.outParams("k", "edit", "K", "h", "");
                       w.outWarning("connection", "Required parameter missing.");
                       w.outWarning("again", "nothing pending");
                   },
                   "params\tk\tedit\tK\th\t\nwarning\tconnection\tRequired parameter missing.\nwarning\tagain\tnothing pending\n",
                   "missing\tdsn\tODBC DSN missing or blank.\n"},
        WriterCase{"cleared_missing_never_appears",
                   [](SISMessageWriter &w) {
                       w.outMissing("dsn", "gone");
                       w.clearMessages();
                       w.outError("App Problem", "boom");
                   },
                   "", "error\tApp Problem\tboom\n"},
        WriterCase{"unknown_list_type_is_an_error",
                   [](SISMessageWriter &w) {
                       w.outList("tree", "k", "1", "One", "");
                       w.outList("school_list", "school", "0101", "Central High (0101)", "");
                   },
                   "school_list\tschool\t0101\tCentral High (0101)\t\n", "error\tlist\tList type not set up.\n"},
        WriterCase{"fields_never_break_the_line",
                   [](SISMessageWriter &w) {
                       w.outError("key\twith tab", "line one\r\nline two");
                       w.outMissing("a\nb", "c\td");
                       w.outWarning("w", "x\ny");
                   },
                   "warning\tw\tx y\n", "error\tkey with tab\tline one  line two\nmissing\ta b\tc d\n"},
        WriterCase{"setting_lines",
                   [](SISMessageWriter &w) {
                       w.outSetting_increment("setting", "connection", "dsn", "MORV");
                       w.outSetting_increment("setting", "school", "school", "", "g1");
                   },
                   "setting\tconnection\tdsn\tMORV\nsetting\tschool\tschool\t\tg1\n", ""}),
    [](const ::testing::TestParamInfo<WriterCase> &info) { return std::string(info.param.name); });

} // namespace
