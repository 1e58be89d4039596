// The index rule, the image memory block and the log line buffer.
#include <gtest/gtest.h>

#include <locale.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "frame/device_table.h"
#include "frame/log.h"
#include "platform/shared_table.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {
namespace {

// The calls share one guard; a few of each family show that they go through it.
TEST(DeviceIndexRule, CallsRefuseIndexesThatAreNotOpen) {
    uint32_t u32 = 0;
    uint8_t u8 = 0;
    uint8_t* ptr = nullptr;
    for (uint8_t device : {0, 1, 20, 21, 255}) {
        SCOPED_TRACE(static_cast<int>(device));
        EXPECT_EQ(debug_info(device), GEV_STATUS_DEVICE_NOT_OPEN);
        EXPECT_EQ(GEVGetMemorySize(device, &u32), GEV_STATUS_DEVICE_NOT_OPEN);
        EXPECT_EQ(GEVGetPixelPtr(device, 0, &ptr), GEV_STATUS_DEVICE_NOT_OPEN);
        EXPECT_EQ(GEVSetDetailedLog(device, 1), GEV_STATUS_DEVICE_NOT_OPEN);
        EXPECT_EQ(GEVReadRegister(device, 0, 1, &u32), GEV_STATUS_DEVICE_NOT_OPEN);
        EXPECT_EQ(GEVWriteMemory(device, 0, 1, &u8), GEV_STATUS_DEVICE_NOT_OPEN);
        EXPECT_EQ(GEVGetReadWriteParameter(device, &u32, &u8), GEV_STATUS_DEVICE_NOT_OPEN);
        EXPECT_EQ(GEVSetReadWriteMemoryCallback(device, nullptr), GEV_STATUS_DEVICE_NOT_OPEN);
    }
}

using DeviceRecord = SimCameraTest;

// A time-out is kept as seconds and microseconds; a new open starts from the defaults again.
TEST_F(DeviceRecord, TimeOutIsSplitAndResetByTheNextOpenAndImageMemoryResizes) {
    openTransportOnly();
    EXPECT_EQ(debug_info(kDevice), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetReadWriteParameter(kDevice, 1500, 5), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record(kDevice).waitSeconds, 1u);
    EXPECT_EQ(record(kDevice).waitMicroseconds, 500000u);
    closeTransportOnly();
    EXPECT_EQ(debug_info(kDevice), GEV_STATUS_DEVICE_NOT_OPEN);
    EXPECT_EQ(record(kDevice).transactionTimeoutMs, 1500u);
    openTransportOnly();
    EXPECT_EQ(record(kDevice).transactionTimeoutMs, 200u);
    EXPECT_EQ(record(kDevice).waitMicroseconds, 200000u);

    // The image memory resizes keeping its bytes.
    EXPECT_EQ(GEVSetMemorySize(kDevice, 64), GEV_STATUS_OUT_OF_MEMORY) << "no block yet";
    ASSERT_TRUE(record(kDevice).imageMemory.allocate(8));
    uint8_t* pixels = nullptr;
    ASSERT_EQ(GEVGetPixelPtr(kDevice, 0, &pixels), GEV_STATUS_SUCCESS);
    std::memset(pixels, 0x7F, 8);

    ASSERT_EQ(GEVSetMemorySize(kDevice, 16), GEV_STATUS_SUCCESS);
    uint32_t size = 0;
    ASSERT_EQ(GEVGetMemorySize(kDevice, &size), GEV_STATUS_SUCCESS);
    EXPECT_EQ(size, 16u);
    ASSERT_EQ(GEVGetPixelPtr(kDevice, 8, &pixels), GEV_STATUS_SUCCESS);
    EXPECT_EQ(pixels[-1], 0x7F);
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[7], 0);
}

TEST(SharedOpenFlags, IndexOfAProcessThatEndedIsTakenOver) {
    auto& flags = platform::SharedOpenFlags::machineWide();
    flags.markOpen(19);
    EXPECT_TRUE(flags.isOpen(19));
    flags.markClosed(19);
    EXPECT_FALSE(flags.isOpen(19));

    // An index left open by a process that has ended (and been reaped).
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    flags.markOpenByProcess(18, child);
    EXPECT_FALSE(flags.isOpen(18));
    EXPECT_FALSE(flags.isOpen(18)) << "the take-over clears the flag for good";
}

TEST(SharedOpenFlags, OfProcessesClaimingOneIndexAtOnceExactlyOneWins) {
    constexpr int kProcesses = 3;
    constexpr int kRounds = 500;
    constexpr int kIndex = 17;
    struct Rounds {
        std::atomic<int> round{-1};
        std::atomic<int> done{0};
        std::atomic<int> winners[kRounds];
    };
    void* memory =
        mmap(nullptr, sizeof(Rounds), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* rounds = new (memory) Rounds{};
    auto& flags = platform::SharedOpenFlags::machineWide();  // shared with the children
    flags.markClosed(kIndex);

    pid_t children[kProcesses];
    for (pid_t& child : children) {
        child = fork();
        if (child == 0) {
            // Released together each round; the claim is all a child does.
            for (int r = 0; r < kRounds; ++r) {
                while (rounds->round.load() < r)
                    sched_yield();
                if (flags.claim(kIndex))
                    rounds->winners[r].fetch_add(1);
                rounds->done.fetch_add(1);
            }
            _exit(0);
        }
        ASSERT_GT(child, 0);
    }
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int r = 0; r < kRounds && std::chrono::steady_clock::now() < limit; ++r) {
        flags.markClosed(kIndex);
        rounds->round.store(r);
        while (rounds->done.load() < (r + 1) * kProcesses &&
               std::chrono::steady_clock::now() < limit) {
            sched_yield();
        }
    }
    rounds->round.store(kRounds);  // lets every child finish, even after the time limit
    for (const pid_t child : children) {
        int status = 0;
        (void)waitpid(child, &status, 0);
    }
    flags.markClosed(kIndex);
    int finished = 0;
    int doubled = 0;
    for (const auto& winners : rounds->winners) {
        finished += winners.load() != 0 ? 1 : 0;
        doubled += winners.load() > 1 ? 1 : 0;
    }
    EXPECT_EQ(doubled, 0) << "rounds in which two processes opened the index";
    EXPECT_GT(finished, kRounds / 10) << "rounds run within the time limit";
    munmap(memory, sizeof(Rounds));
}

// A locale whose numbers have a decimal comma; built for this process (LOCPATH) when the
// system has none installed. Null when neither works.
locale_t commaDecimalLocale() {
    if (const locale_t installed = ::newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", locale_t{}))
        return installed;
    const std::string folder = testing::TempDir() + "kavro_locales";
    const std::string build =
        "mkdir -p " + folder + " && localedef -c -i de_DE -f UTF-8 " + folder + "/de_DE.UTF-8";
    if (std::system((build + " >/dev/null 2>&1").c_str()) != 0)
        return locale_t{};
    ::setenv("LOCPATH", folder.c_str(), 1);
    locale_t built{};
    {
#if defined(__SANITIZE_ADDRESS__)
        // The C library keeps the search path it made of LOCPATH for good.
        const __lsan::ScopedDisabler keptForGood;
#endif
        built = ::newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", locale_t{});
    }
    ::unsetenv("LOCPATH");
    return built;
}

// An application that set a comma-decimal locale still gets the lines as they are written.
TEST(DeviceLog, NumbersKeepTheirDecimalPointInACommaLocale) {
    const locale_t comma = commaDecimalLocale();
    if (comma == locale_t{})
        GTEST_SKIP() << "no de_DE locale and none could be built (Debian package locales)";
    frame::GevDevice device;
    static std::string seen;
    device.logCallback = [](uint8_t, const char* line) { seen = line; };
    const locale_t previous = ::uselocale(comma);
    char local[16];
    std::snprintf(local, sizeof local, "%.2f", 0.5);
    frame::gevLogf(device, "[INFO] - Frames: 2, Errors: 1 Lost: %.2f %%", 50.0);
    char formatted[32];
    frame::gevFormatLine(formatted, sizeof formatted, "%2.1f fps", 29.5);
    ::uselocale(previous);
    ::freelocale(comma);
    ASSERT_STREQ(local, "0,50") << "the locale did not take";
    EXPECT_EQ(seen, "[INFO] - Frames: 2, Errors: 1 Lost: 50.00 %");
    EXPECT_STREQ(formatted, "29.5 fps");
}

TEST(DeviceLog, LongLinesAreCutAndStatusTextsNameTheirCode) {
    char small[8];
    std::memset(small, 'x', sizeof small);
    frame::gevFormatLine(small, sizeof small, "%s", "a line far longer than the buffer");
    EXPECT_STREQ(small, "a line ");

    frame::GevDevice device;
    device.deviceIndex = 3;
    static std::string seen;
    device.logCallback = [](uint8_t, const char* line) { seen = line; };
    const std::string huge(5000, 'y');
    frame::gevLogf(device, "[INFO] - %s", huge.c_str());
    EXPECT_EQ(seen.size(), frame::kLogLineSize - 1);
    EXPECT_EQ(seen.rfind("[INFO] - yyy", 0), 0u);

    // A code whose text names another status would send a reader the wrong way.
    const struct {
        GevStatus code;
        const char* prefix;
    } cases[] = {
        {GEV_STATUS_SUCCESS, "GEV_STATUS_SUCCESS (0x0000): "},
        {GEV_STATUS_TIMEOUT, "GEV_STATUS_TIMEOUT (0xC008): "},
        {GEV_STATUS_SCHEMA_ERROR, "GEV_STATUS_SCHEMA_ERROR (0xC028): "},
        {GEV_STATUS_NOT_IMPLEMENTED, "GEV_STATUS_NOT_IMPLEMENTED (0x8002): "},
        {0x8001, "device status NOT_IMPLEMENTED (0x8001): "},
        {0x1234, "unknown status (0x1234)"},
        {0x8FFE, "unknown device status (0x8FFE)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::string(GEVStatusText(c.code)).rfind(c.prefix, 0), 0u) << c.prefix;
    // The text of an unknown code stays where it is: callers may keep the pointer.
    EXPECT_EQ(GEVStatusText(0x1234), GEVStatusText(0x1234));
}

}  // namespace
}  // namespace kavro::test
