// A short form of tools/soak.sh: the program itself, offscreen, watched from outside for
// memory and log growth and a picture that goes dark. The full run is the script's default.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

TEST(Soak, ShortRunStaysFlatQuietAndAlive)
{
    // The allocator's quarantine makes resident memory meaningless under the sanitizers.
    if (kSanitized)
        GTEST_SKIP() << "resident memory is not measurable under AddressSanitizer";
    const std::string script = std::string(HALVORA_SOURCE_DIR) + "/tools/soak.sh";
    const std::string binary = std::string(HALVORA_BINARY_DIR) + "/halvora";
    if (access(binary.c_str(), X_OK) != 0 || access("/usr/bin/python3", X_OK) != 0)
        GTEST_SKIP() << "needs the halvora program and python3";
    const std::string command = "bash '" + script + "' --binary '" + binary +
                                "' --frames 1500 --sample-every 500 --margin-kib 4096 >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "run " << script << " --binary " << binary
                                      << " --frames 1500 --sample-every 500 to see why";
}

}  // namespace
