#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>

#include "tests/image_builder.h"
#include "tests/process.h"

using namespace d88test;
using Tree = std::map<std::string, Bytes>;

// Every fopen of the test process passes through here (linked with
// --wrap=fopen), so a test can see how the tool opened the image.
std::vector<std::pair<std::string, std::string>> openedFiles;
extern "C" FILE* __real_fopen(const char* path, const char* mode);
extern "C" FILE* __wrap_fopen(const char* path, const char* mode) {
  openedFiles.emplace_back(path, mode);
  return __real_fopen(path, mode);
}

namespace {

// Items 000 (track 7, sectors 1 and 2) and 001 (track 9, sector 1).
Disk base() {
  return diskA("BAD", {{0x23, 0x600}, {0x2d, 0x400}}, 12);
}
const std::string kListing =
    "000  0023 (Tr.07 Sc.01) SIZE:0600\n001  002d (Tr.09 Sc.01) SIZE:0400\n";

std::string listingIn(const std::string& dir) {
  return "\n[BAD] -> " + dir + "\n" + kListing;
}

// Runs the tool on `image` in a directory of its own beside the image, and
// checks what must hold for every image: the image is unchanged and was only
// opened for reading, and nothing appeared outside the run's directory.
Outcome runChecked(const Bytes& image, Tree* tree) {
  TempDir parent;
  const std::string path = parent.write("image.d88", image);
  std::filesystem::create_directory(parent.path() / "run");
  openedFiles.clear();
  const Outcome o = runInProcess({path}, parent.path() / "run");
  for (const auto& [name, mode] : openedFiles)
    if (name == path) {
      EXPECT_STREQ(mode.c_str(), "rb");
    }
  EXPECT_EQ(readFile(path), image);
  *tree = readTree(parent.path() / "run");
  EXPECT_EQ(readTree(parent.path()).size(), tree->size() + 2);  // plus image.d88 and run/
  return o;
}

}  // namespace

TEST(BadInputs, EachClassEndsCleanly) {
  const Disk good = base();
  const Bytes item0 = run(good, 7, 1, 5, 0x600), item1 = run(good, 9, 1, 5, 0x400);
  const Bytes goodImage = build(good);
  const size_t track7 = 688 + 7 * 5 * (16 + 1024);

  struct Case {
    const char* what;
    Bytes image;
    std::string out;
    Tree tree;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, Bytes image, std::string out, Tree tree) {
    cases.push_back({what, std::move(image), std::move(out), std::move(tree)});
  };
  const Tree both{{"D000/", {}}, {"D000/000", item0}, {"D000/001", item1}};
  const Tree none{{"D000/", {}}};
  add("a good Disk A", goodImage, listingIn("D000"), both);
  const std::string text(3000, 'x');
  add("not a D88 image: text", Bytes(text.begin(), text.end()), "", {});
  add("truncated header", Bytes(goodImage.begin(), goodImage.begin() + 600), "", {});
  add("truncated track: 000 keeps the whole sector before the cut, 001 is gone",
      Bytes(goodImage.begin(), goodImage.begin() + track7 + 1040 + 16 + 100), listingIn("D000"),
      {{"D000/", {}}, {"D000/000", Bytes(item0.begin(), item0.begin() + 1024)}});
  Disk d = base();
  d.size = -5;
  add("negative disk size: no track is usable, the walk ends", build(d), "", {});
  d.size = 0x7fffffff;
  add("huge disk size: the walk ends after this disk", build(d) + build(diskB("B")),
      listingIn("D000"), both);
  d = base();
  d.trackOffsets[7] = static_cast<int64_t>(goodImage.size()) + 688;  // into the next disk
  d.trackOffsets[9] = 0x7ffffff0;
  add("track offsets into the next disk and huge",
      build(d) + build(Disk{"NEXT", 0, {}, {}, {track(0, 5, 3)}}), listingIn("D000"), none);
  d = base();
  d.tracks[7].sectors[0].count = 0;
  d.tracks[9].sectors.erase(d.tracks[9].sectors.begin());
  for (Sector& s : d.tracks[9].sectors) s.count = 9;
  add("sector count 0; count 9 with sector 1 missing", build(d), listingIn("D000"), none);
  d = base();
  d.tracks[7].sectors[1].dataSize = 0;
  d.tracks[9].sectors[0].dataSize = 0;
  add("data size 0 ends a run", build(d), listingIn("D000"),
      {{"D000/", {}}, {"D000/000", Bytes(item0.begin(), item0.begin() + 1024)}});
  d = base();
  Sector first = d.tracks[7].sectors[0];
  first.data.assign(1024, 0x5A);
  d.tracks[7].sectors.insert(d.tracks[7].sectors.begin(), first);
  Bytes shadowed = item0;
  std::fill(shadowed.begin(), shadowed.begin() + 1024, 0x5A);
  add("duplicate sector IDs: the first wins", build(d), listingIn("D000"),
      {{"D000/", {}}, {"D000/000", shadowed}, {"D000/001", item1}});

  d = base();
  d.size = 0;
  add("disk size 0: the same header 64 times, no track within the size", build(d), "", {});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tree tree;
    const Outcome o = runChecked(c.image, &tree);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, c.out);
    if (tree != c.tree) ADD_FAILURE() << "the files left differ";
  }
}

TEST(BadInputs, ImageCutAtEveryLength) {
  // Cutting an image never adds bytes: every file left is a prefix of the
  // same file from the whole image, and nothing else appears.
  Disk b = diskB("B");
  b.tracks.resize(1);
  b.tracks.push_back(track(30, 16, 1));
  const Bytes image = build({diskA("A", {{3, 0x500}, {9, 0x800}}, 4), b});
  Tree whole;
  ASSERT_EQ(runChecked(image, &whole).status, 0);
  ASSERT_EQ(whole.size(), 5u);  // D000/, 000, 001, DRIVER, MUS00
  for (size_t length = 0; length < image.size(); length += 37) {
    SCOPED_TRACE(length);
    Tree tree;
    EXPECT_EQ(runChecked(Bytes(image.begin(), image.begin() + length), &tree).status, 0);
    for (const auto& [name, bytes] : tree) {
      ASSERT_TRUE(whole.count(name)) << name;
      const Bytes& full = whole[name];
      EXPECT_TRUE(bytes.size() <= full.size() &&
                  std::equal(bytes.begin(), bytes.end(), full.begin()))
          << name;
    }
  }
}
