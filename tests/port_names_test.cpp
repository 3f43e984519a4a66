// The port box's rules, in both builds.
#include "port_names.h"

#include <gtest/gtest.h>

namespace kvr::test {
namespace {

TEST(PortNames, NaturalOrderWithoutDuplicates) {
    std::vector<PortEntry> ports = {{L"COM12", L""}, {L"COM3", L""}, {L"com2", L""}, {L"COM10", L""},
                                    {L"COM1", L""},  {L"COM3", L""}, {L"COM03A", L""}, {L"CNCA0", L""}};
    SortPorts(ports);
    std::vector<std::wstring> names;
    for (const PortEntry& port : ports) names.push_back(port.name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"CNCA0", L"COM1", L"com2", L"COM3", L"COM03A", L"COM10", L"COM12"}));
    EXPECT_FALSE(NaturalLess(L"COM3", L"COM3"));
    EXPECT_TRUE(NaturalLess(L"COM3", L"COM3A"));
}

TEST(PortNames, ShownTextAndTheNameRecvOpens) {
    const std::vector<PortEntry> ports = {{L"COM5", L"USB Serial Port"}, {L"COM7", L""}};
    EXPECT_EQ(PortDisplayText(ports[0]), L"COM5 - USB Serial Port");
    EXPECT_EQ(PortDisplayText(ports[1]), L"COM7");
    struct Row { const wchar_t* text; const wchar_t* opened; };
    const Row rows[] = {{L"COM5 - USB Serial Port", L"COM5"}, {L"COM7", L"COM7"}, {L"COM9", L"COM9"},
                        {L"COM5 - something else", L"COM5 - something else"}, {L"", L""}};
    for (const Row& row : rows) EXPECT_EQ(PortNameForText(ports, row.text), row.opened);

    EXPECT_EQ(FriendlyNameWithoutPort(L"USB Serial Port (COM5)", L"COM5"), L"USB Serial Port");
    EXPECT_EQ(FriendlyNameWithoutPort(L"USB Serial Port (COM5)", L"COM6"), L"USB Serial Port (COM5)");
    EXPECT_EQ(FriendlyNameWithoutPort(L"(COM5)", L"COM5"), L"(COM5)");
}

}  // namespace
}  // namespace kvr::test
