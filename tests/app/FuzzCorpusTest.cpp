// Replays the inputs the fuzzing benchmark found interesting: each HNConfig.xml
// sample must still end in the outcome its name records (read_N: read with N
// schools, parse_*: refused as broken XML, not_config: refused as another
// file), and no command line may break the scanner's checks.
#include "tests/support/FuzzTargets.h"
#include "tests/support/WholeFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

const QString kCorpus = QStringLiteral(MORV_SOURCE_DIR "/tests/app/fuzz_corpus");

TEST(FuzzCorpus, HNConfigSamplesKeepTheirOutcome)
{
    const QDir folder(kCorpus + QStringLiteral("/hnconfig"));
    const QStringList names = folder.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 10);
    for (const QString &name : names) {
        const fuzz::Verdict verdict = fuzz::CheckHNConfig(ReadWholeFile(folder.filePath(name)));
        EXPECT_EQ(verdict.fault, "") << name.toStdString();
        const QString kind = name.section(u'_', 0, 0);
        const std::string expected = kind == QLatin1String("read")
            ? "read:" + name.section(u'_', 1, 1).section(u'.', 0, 0).toStdString()
            : kind == QLatin1String("not") ? std::string("not-config") : kind.toStdString();
        EXPECT_EQ(verdict.outcome.substr(0, expected.size()), expected) << name.toStdString() << " -> " << verdict.outcome;
    }
}

TEST(FuzzCorpus, CommandLinesKeepTheScannersChecks)
{
    const QDir folder(kCorpus + QStringLiteral("/options"));
    const QStringList names = folder.entryList({QStringLiteral("*.args")}, QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 3);
    for (const QString &name : names) {
        const fuzz::Verdict verdict = fuzz::CheckCommandLine(fuzz::ArgumentsFromCorpus(ReadWholeFile(folder.filePath(name))));
        EXPECT_EQ(verdict.fault, "") << name.toStdString();
    }
}

// A short seeded run keeps the generator and its checks working; the long
// runs are the benchmark's.
TEST(FuzzCorpus, ShortSeededRunFindsNoFault)
{
    fuzz::Generator generator(7);
    for (int i = 0; i < 300; ++i) {
        int schools = 0;
        const QByteArray wellFormed = generator.WellFormedConfig(schools);
        EXPECT_EQ(fuzz::CheckHNConfig(wellFormed, schools).fault, "") << wellFormed.toStdString();
        const QByteArray mutated = generator.Mutate(wellFormed);
        EXPECT_EQ(fuzz::CheckHNConfig(mutated).fault, "") << mutated.toStdString();
        std::map<QString, QString> expected;
        bool valid = false;
        const QStringList arguments = generator.CommandLine(expected, valid);
        EXPECT_EQ(fuzz::CheckCommandLine(arguments, valid ? &expected : nullptr).fault, "")
            << arguments.join(u' ').toStdString();
    }
}

} // namespace
