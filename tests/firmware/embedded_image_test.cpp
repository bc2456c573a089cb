// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "firmware.h"
#include "identify.h"
#include "recording_operator.h"

namespace fwtool {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The stand-in image committed with the sources is what the generator writes
// and what the one-click update expects to find.
TEST(BundledImage, HasTheControllersLayoutAndPassesItsOwnChecks) {
  const Bytes image = ReadFile(FWTOOL_BUNDLED_IMAGE);
  ASSERT_EQ(image.size(), kEmbeddedImageSize);

  const ImageInfo info = DescribeImage(image);
  EXPECT_TRUE(info.headerArea);
  EXPECT_EQ(info.headerSignatureOffset, 0x1000u);
  EXPECT_EQ(info.headerChipType, 8);
  EXPECT_TRUE(info.headerMarker);
  EXPECT_TRUE(HasHeaderMarker(image, kHeaderMarkerEnd));
  ASSERT_EQ(info.records.size(), 9u);
  EXPECT_EQ(info.validRecords, 9u);
  const uint8_t words[9] = {4, 4, 4, 5, 5, 5, 5, 5, 5};
  for (size_t r = 0; r < 9; ++r) EXPECT_EQ(info.records[r].words, words[r]) << r;
  EXPECT_TRUE(std::all_of(image.begin() + 0x400, image.begin() + 0x1000,
                          [](uint8_t b) { return b == 0xFF; }));

  ASSERT_EQ(info.signatures.size(), 1u);
  EXPECT_EQ(info.signatures[0].offset, 0x1000u);
  EXPECT_EQ(info.signatures[0].magic, MagicKind::Full);
  EXPECT_EQ(info.signatures[0].chipId.substr(0, 3), "719");
  EXPECT_EQ(info.signatures[0].chipId.size(), 4u);

  // What a type 8/9 controller running this image reports.
  EXPECT_EQ(info.versionText, "2.08.12.16.00");
  for (const char* excluded : {"7.07.00.16.00", "11.19.02.16.00", "4.10.02.16.00"})
    EXPECT_NE(info.versionText, excluded);

  EXPECT_TRUE(info.endMarkerFound);
  EXPECT_EQ(info.endMarkerLength, 65056u);
  EXPECT_TRUE(info.fileSum.passes) << info.fileSum.reason;
  EXPECT_TRUE(info.banks.empty());

  for (const int type : {8, 9}) {
    EXPECT_TRUE(ImageHasHeaderArea(image, type));
    EXPECT_TRUE(ImageMatchesChip(image, MakeIdentification(type, 0)).passes);
    EXPECT_TRUE(CheckImageSum(image, MakeIdentification(type, 0)).passes);
  }
  RecordingOperator op;
  EXPECT_TRUE(FirmwareFileMatchesChip(op, FWTOOL_BUNDLED_IMAGE, MakeIdentification(8, 2)));
  EXPECT_FALSE(FirmwareFileMatchesChip(op, FWTOOL_BUNDLED_IMAGE, MakeIdentification(10, 0)));
  EXPECT_TRUE(VerifyFileSum(FWTOOL_BUNDLED_IMAGE, MakeIdentification(8, 0)));
  EXPECT_TRUE(VerifyFileSum(FWTOOL_BUNDLED_IMAGE, MakeIdentification(3, 0)));  // summed
  EXPECT_TRUE(op.shown.empty());

  // Recomputing the record checksums of an unchanged header changes nothing.
  Bytes header(image.begin(), image.begin() + 1024);
  UpdateHeaderChecksums(header);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), image.begin()));
}

TEST(EmbeddedImage, CarriesTheConfiguredFile) {
  const Bytes file = ReadFile(FWTOOL_EMBEDDED_IMAGE_FILE);
  const auto embedded = EmbeddedImage();
  ASSERT_FALSE(embedded.empty());
  EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), file.begin(), file.end()));
}

TEST(LoadEmbeddedImage, CopiesWithinBothBounds) {
  const auto image = EmbeddedImage();
  const size_t size = image.size();
  ASSERT_GT(size, 2048u);
  struct Case {
    const char* name;
    size_t destination;
    size_t offset;
    size_t length;
    size_t copied;
  };
  const Case cases[] = {
      {"first 1 KB", 1024, 0, 1024, 1024},
      {"length 0: the whole image", size + 512, 0, 0, size},
      {"length past the end: the rest", size + 512, 100, size, size - 100},
      {"tail", 4096, size - 56, 100, 56},
      {"offset at the end: nothing", 4096, size, 0, 0},
      {"offset past the end: nothing", 4096, size + 5000, 10, 0},
      {"destination smaller than the image", 100, 0, 0, 100},
      {"destination smaller than the length", 100, 10, 1000, 100},
      {"empty destination", 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Exactly sized, so a copy past it shows under the address sanitizer too.
    Bytes destination(c.destination, 0xEE);
    EXPECT_EQ(LoadEmbeddedImage(destination, c.offset, c.length), size);
    const size_t offset = std::min(c.offset, size);
    EXPECT_TRUE(
        std::equal(destination.begin(), destination.begin() + c.copied, image.begin() + offset));
    EXPECT_TRUE(std::all_of(destination.begin() + c.copied, destination.end(),
                            [](uint8_t b) { return b == 0xEE; }));
  }
}

TEST(LoadEmbeddedImage, MissingImageCopiesNothingAndReturnsZero) {
  Bytes destination(16, 0xEE);
  EXPECT_EQ(CopyImage({}, destination, 0, 0), 0u);
  EXPECT_EQ(destination, Bytes(16, 0xEE));
}

}  // namespace
}  // namespace fwtool
