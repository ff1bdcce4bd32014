// The files do not depend on the user's language settings: a French locale (decimal comma)
// gives the same bytes as the C locale.
#include "fixtures.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

// Converts the bundled sample and then its RAW file in `dir`; returns the four outputs.
std::vector<std::vector<std::uint8_t>> convertSample(const TempDir& dir)
{
    for (const char* f : {"LAB6.DAT", "CPS120.CAL"})
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / f, dir.path() / f, fs::copy_options::overwrite_existing);
    TRawDatState state;
    TLitdat lit;
    RecordingUi ui;
    TConversion conv(state, lit, ui);
    ui.nextFile = dir.file("LAB6.DAT");
    EXPECT_TRUE(conv.runDat());
    const auto twoColumnOfDat = readBytes(dir.file("LAB6.2CL"));
    ui.nextFile = dir.file("LAB6.RAW");
    EXPECT_TRUE(conv.runRaw());
    return {readBytes(dir.file("LAB6.RAW")), twoColumnOfDat, readBytes(dir.file("LAB6.TXT")),
            readBytes(dir.file("LAB6.2CL"))};
}

} // namespace

TEST(Locale, FrenchDecimalCommaChangesNoByte)
{
    TempDir dir, localeDir;
    const auto plain = convertSample(dir);
    for (const char* f : {"LAB6.RAW", "LAB6.2CL", "LAB6.TXT"})
        fs::remove(dir.path() / f);

#ifdef _WIN32
    // Windows has its French locale built in.
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "French_France.1252"))
        GTEST_SKIP() << "no French locale here";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    const auto french = convertSample(dir);
    std::setlocale(LC_ALL, saved.c_str());
#else
    // Build a French locale for this test alone (the machine need not have one installed).
    const std::string cmd = "localedef -i fr_FR -f UTF-8 '" + localeDir.file("fr_FR.UTF-8") + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
        GTEST_SKIP() << "localedef cannot build fr_FR.UTF-8 here";
    const char* oldPath = std::getenv("LOCPATH");
    const std::string savedPath = oldPath ? oldPath : "";
    ::setenv("LOCPATH", localeDir.path().c_str(), 1);
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "fr_FR.UTF-8"), nullptr);
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");

    const auto french = convertSample(dir);
    std::setlocale(LC_ALL, saved.c_str());
    if (oldPath)
        ::setenv("LOCPATH", savedPath.c_str(), 1);
    else
        ::unsetenv("LOCPATH");

#endif

    ASSERT_EQ(plain.size(), french.size());
    for (std::size_t i = 0; i < plain.size(); ++i)
        EXPECT_EQ(plain[i], french[i]) << "output " << i;
}
