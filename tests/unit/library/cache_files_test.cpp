// Cache entries are replaced whole or not at all: a write that cannot finish leaves the old
// entry and no partial file beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "library/cache_files.hpp"

namespace zel {
namespace {

namespace fsys = std::filesystem;

std::string contents(const fsys::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int entries(const fsys::path& dir) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fsys::directory_iterator(dir)) n++;
    return n;
}

TEST(CacheFiles, ReplaceWholeOrNotAtAll) {
    char pattern[] = "/tmp/zel-cache-XXXXXX";
    fsys::path dir = ::mkdtemp(pattern);
    fsys::path target = dir / "entry";

    std::string big(3 << 20, 'x');
    EXPECT_TRUE(cache_files::replace_file(target.string(), big));
    EXPECT_EQ(contents(target), big);
    EXPECT_TRUE(cache_files::replace_file(target.string(), std::string("new\0bytes", 9)));
    EXPECT_EQ(contents(target), std::string("new\0bytes", 9));
    EXPECT_EQ(entries(dir), 1);

    // A target that cannot be replaced (a folder in its place; a folder that is not there).
    fsys::path blocked = dir / "blocked";
    fsys::create_directory(blocked);
    fsys::create_directory(blocked / "inside");
    EXPECT_FALSE(cache_files::replace_file(blocked.string(), "data"));
    EXPECT_FALSE(cache_files::replace_file((dir / "absent" / "entry").string(), "data"));
    EXPECT_EQ(entries(dir), 2);
    EXPECT_EQ(contents(target), std::string("new\0bytes", 9));
    fsys::remove_all(dir);
}

} // namespace
} // namespace zel
