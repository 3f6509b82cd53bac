// What the reader learnt is kept per set of fonts and read back whole.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <opencv2/core.hpp>

#include "clock_pictures.h"
#include "reader/learnt_digits_cache.h"

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kTwoFonts{"DejaVu Sans Mono", "Inconsolata"};

std::vector<fs::path> FilesIn(const fs::path& folder)
{
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    return files;
}

// Each digit of a clock's newest line and how sure it is, against its
// likeliest font and against the fonts' average.
std::vector<std::tuple<int, float, float>> ReadNewestLine(const DigitClassifier& classifier)
{
    ClockFrame frame;
    frame.displayMode = 1;
    frame.lines = LinesEndingAt({1'234'567'890u, 2'345'678'901u}, 0, 16'667, 1);
    const std::vector<TextLine> lines = FindTextLines(InkScore(RenderClockFrame(frame)));
    EXPECT_EQ(lines.size(), 1u);
    std::array<int, kDigitCells.size()> everyDigit{};
    everyDigit.fill(9);
    std::vector<std::tuple<int, float, float>> read;
    for (const DigitGuess& guess : classifier.ReadDigits(lines.at(0), everyDigit)) {
        read.emplace_back(guess.digit, guess.margin, guess.pooledMargin);
    }
    return read;
}

class LearntDigitsCache : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(folder_); }
    void TearDown() override { fs::remove_all(folder_); }
    const fs::path folder_ = fs::temp_directory_path() / ("tixabo-digits-" + std::to_string(getpid()));
};

TEST_F(LearntDigitsCache, KeepsOneFilePerReaderAndReadsItBackAsLearnt)
{
    const CachedClassifier learnt = CachedDigitClassifier(kTwoFonts, folder_);
    EXPECT_FALSE(learnt.readFromCache);
    ASSERT_EQ(FilesIn(folder_).size(), 1u);
    const CachedClassifier kept = CachedDigitClassifier(kTwoFonts, folder_);
    EXPECT_TRUE(kept.readFromCache);
    EXPECT_EQ(ReadNewestLine(kept.classifier), ReadNewestLine(learnt.classifier));

    // Other fonts are learnt anew, and their file replaces this reader's old one.
    const CachedClassifier other = CachedDigitClassifier({"Inconsolata"}, folder_);
    EXPECT_FALSE(other.readFromCache);
    ASSERT_EQ(FilesIn(folder_).size(), 1u);
    EXPECT_TRUE(CachedDigitClassifier({"Inconsolata"}, folder_).readFromCache);
}

TEST_F(LearntDigitsCache, LearnsAgainOverADamagedFileAndWithoutAFolder)
{
    CachedDigitClassifier(kTwoFonts, folder_);
    const fs::path file = FilesIn(folder_).at(0);
    for (const std::string damage : {"", "%YAML:1.0\n---\nweights: 3\n", "not a file of learnt digits"}) {
        std::ofstream(file, std::ios::trunc) << damage;
        const CachedClassifier relearnt = CachedDigitClassifier(kTwoFonts, folder_);
        EXPECT_FALSE(relearnt.readFromCache) << damage;
        EXPECT_EQ(std::get<0>(ReadNewestLine(relearnt.classifier)[0]), 1) << damage;  // 123456789
        EXPECT_TRUE(CachedDigitClassifier(kTwoFonts, folder_).readFromCache) << damage;
    }
    EXPECT_FALSE(CachedDigitClassifier(kTwoFonts, std::nullopt).readFromCache);
}

// A kept file whose faces name a digit the clock has not is not read back:
// each face's column scores the digit it names.
TEST_F(LearntDigitsCache, RefusesAFileWhoseFacesNameNoDigit)
{
    const fs::path file = folder_ / "learnt.yml";
    ASSERT_TRUE(DigitClassifier({"Inconsolata"}).Save(file));
    ASSERT_TRUE(DigitClassifier::Load(file).has_value());
    cv::FileStorage kept(file.string(), cv::FileStorage::READ);
    std::map<std::string, cv::Mat> fields;
    for (const cv::FileNode& node : kept.root()) node >> fields[node.name()];
    kept.release();
    fields.at("mode_digits").at<int>(0) = 10;
    cv::FileStorage damaged(file.string(), cv::FileStorage::WRITE);
    for (const auto& [name, value] : fields) damaged << name << value;
    damaged.release();
    EXPECT_FALSE(DigitClassifier::Load(file).has_value());
}

TEST(DigitLearning, FailsLoudlyWithoutAnyInstalledFont)
{
    EXPECT_THROW(DigitClassifier({"No Such Mono Family"}), std::runtime_error);
}

}  // namespace
