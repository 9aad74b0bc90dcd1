// The simulated device node answers the system calls hidapi makes as the
// kernel's hidraw driver does, so that what the scenarios find holds for a
// real bridge.

#include "Bridge.h"
#include "Machine.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <vector>

using hidraw_sim::Machine;

namespace {

class HidrawNode : public ::testing::Test {
protected:
    void SetUp() override { HIDRAW_REQUIRE_MACHINE(); }

    static int openNode(int minor, int flags = O_RDWR)
    {
        return ::open(Machine::devnode(minor).c_str(), flags | O_CLOEXEC);
    }
    static short events(int fd, int timeoutMs)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0 ? p.revents : 0;
    }
    static int error(ssize_t result) { return result < 0 ? errno : 0; }
};

}  // namespace

TEST_F(HidrawNode, ReportsAreReadOneAtATimeByEveryOpenFile)
{
    Machine machine(hidraw_sim::Notices::Kernel);
    const int minor = machine.plug();
    const int a = openNode(minor);
    const int b = openNode(minor);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);

    int size = 0;
    ASSERT_EQ(ioctl(a, HIDIOCGRDESCSIZE, &size), 0);
    EXPECT_EQ(size, static_cast<int>(sizeof hidraw_sim::kReportDescriptor));
    hidraw_devinfo info{};
    ASSERT_EQ(ioctl(a, HIDIOCGRAWINFO, &info), 0);
    EXPECT_EQ(info.bustype, BUS_USB);
    EXPECT_EQ(static_cast<std::uint16_t>(info.vendor), 0x6017);
    EXPECT_EQ(static_cast<std::uint16_t>(info.product), 0x0200);

    const std::uint8_t tooShort[] = {0x00};
    EXPECT_EQ(error(write(a, tooShort, sizeof tooShort)), EINVAL);
    const std::uint8_t command[] = {0x00, 0x70, 0x41, 0x41};
    EXPECT_EQ(write(a, command, sizeof command), 4);
    EXPECT_EQ(machine.written(minor), (std::vector<std::string>{"704141"}));  // report id not sent

    ASSERT_TRUE(events(a, 1000) & POLLIN);
    std::array<std::uint8_t, 64> buffer{};
    ASSERT_EQ(read(a, buffer.data(), 2), 2);  // cut to the buffer, no report id in front
    EXPECT_EQ(buffer[0], 0x01);
    EXPECT_EQ(buffer[1], 0x41);
    EXPECT_FALSE(events(a, 0) & POLLIN);                  // the rest of the report is gone
    ASSERT_EQ(read(b, buffer.data(), buffer.size()), 3);  // the other file got it too
    EXPECT_EQ(buffer[2], 0x41);
    close(a);
    close(b);
}

TEST_F(HidrawNode, AFullQueueDropsNewReports)
{
    Machine machine(hidraw_sim::Notices::Kernel);
    const int minor = machine.plug();
    const int fd = openNode(minor, O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 70; ++i) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "send 0 01%02X00", i);
        machine.tell(minor, hex);
    }
    ASSERT_EQ(machine.opens(minor), 1);  // every report has been delivered by now
    std::array<std::uint8_t, 8> buffer{};
    int count = 0;
    while (read(fd, buffer.data(), buffer.size()) == 3)
        ++count;
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(count, 63);  // the kernel's ring of 64 slots
    EXPECT_EQ(buffer[1], 62);
    close(fd);
}

TEST_F(HidrawNode, AnUnpluggedNodeFailsAsTheKernelsDoes)
{
    Machine machine(hidraw_sim::Notices::Kernel);
    const int minor = machine.plug();
    const int fd = openNode(minor);
    ASSERT_GE(fd, 0);
    machine.tell(minor, "send 0 014545");
    ASSERT_TRUE(events(fd, 1000) & POLLIN);

    machine.ask(minor, "gone");  // the device has gone; its node is still there
    EXPECT_EQ(error(openNode(minor)), ENODEV);
    std::array<std::uint8_t, 8> buffer{};
    EXPECT_EQ(read(fd, buffer.data(), buffer.size()), 3);  // what was queued is still read
    EXPECT_EQ(error(read(fd, buffer.data(), buffer.size())), EIO);
    const std::uint8_t command[] = {0x00, 0x70, 0x41, 0x41};
    EXPECT_EQ(error(write(fd, command, sizeof command)), ENODEV);
    int size = 0;
    EXPECT_EQ(error(ioctl(fd, HIDIOCGRDESCSIZE, &size)), ENODEV);
    EXPECT_EQ(events(fd, 0) & (POLLERR | POLLHUP), POLLERR | POLLHUP);

    machine.unplug(minor);
    EXPECT_EQ(error(openNode(minor)), ENOENT);
    close(fd);
}
