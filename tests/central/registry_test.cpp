// The name table on its own, with a clock the test turns.
#include <gtest/gtest.h>

#include "central/registry.h"

using namespace central;

namespace {

template <size_t N>
Field<N> field(const std::string& text) {
    Field<N> f;
    std::copy(text.begin(), text.end(), f.bytes.begin());
    return f;
}
Name name(const std::string& text) { return field<NAME_FIELD>(text); }
ComputerName computer(const std::string& text) { return field<COMPUTER_NAME_FIELD>(text); }

const Endpoint HOME{0x01020304, 1194}, AWAY{0x05060708, 40000};

TEST(Registry, AFreshNameIsHeldUntilItLapses) {
    Registry registry(120000, 10);
    Registration* entry = nullptr;
    EXPECT_EQ(registry.enroll(name("office"), computer("PC01"), HOME, 0, &entry), Registry::Outcome::Registered);
    EXPECT_EQ(registry.enroll(name("office"), computer("PC02"), AWAY, 119999, &entry), Registry::Outcome::Taken);
    EXPECT_EQ(entry->computerName, computer("PC01"));
    EXPECT_EQ(registry.find(name("office"), 119999)->address, HOME);
    EXPECT_EQ(registry.find(name("office"), 120000), nullptr);
    // Lapsed, it goes to whoever asks next, with a clean slate.
    registry.find(name("office"), 0)->peerAddressAt = 5;
    EXPECT_EQ(registry.enroll(name("office"), computer("PC02"), AWAY, 120000, &entry),
              Registry::Outcome::Registered);
    EXPECT_EQ(entry->address, AWAY);
    EXPECT_EQ(entry->peerAddressAt, -1);
    EXPECT_EQ(registry.size(), 1u);
}

TEST(Registry, ARefreshMovesTheAddressAndRestartsTheClock) {
    Registry registry(120000, 10);
    Registration* entry = nullptr;
    registry.enroll(name("office"), computer("PC01"), HOME, 0, &entry);
    entry->peerAddressAt = 50;
    EXPECT_EQ(registry.enroll(name("office"), computer("PC01"), AWAY, 100000, &entry), Registry::Outcome::Refreshed);
    EXPECT_EQ(entry->address, AWAY);
    EXPECT_EQ(entry->peerAddressAt, 50) << "a refresh must not reset the per-name limit";
    EXPECT_NE(registry.find(name("office"), 219999), nullptr);
    EXPECT_EQ(registry.find(name("office"), 220000), nullptr);
}

TEST(Registry, TheSweepTakesLapsedNamesInOrderAndSparesRefreshedOnes) {
    Registry registry(1000, 10);
    Registration* entry = nullptr;
    registry.enroll(name("a"), computer("A"), HOME, 0, &entry);
    registry.enroll(name("b"), computer("B"), HOME, 100, &entry);
    registry.enroll(name("c"), computer("C"), HOME, 200, &entry);
    registry.enroll(name("a"), computer("A"), AWAY, 500, &entry); // a refreshed: now the newest
    std::vector<std::string> gone;
    auto collect = [&](const Name& n, const Registration&) { gone.push_back(n.text()); };
    registry.expire(1150, collect);
    EXPECT_EQ(gone, (std::vector<std::string>{"b"}));
    registry.expire(1500, collect);
    EXPECT_EQ(gone, (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_EQ(registry.size(), 0u);
}

TEST(Registry, TheCapHoldsButALapsedNameMakesRoom) {
    Registry registry(1000, 2);
    Registration* entry = nullptr;
    registry.enroll(name("a"), computer("A"), HOME, 0, &entry);
    registry.enroll(name("b"), computer("B"), HOME, 500, &entry);
    EXPECT_EQ(registry.enroll(name("c"), computer("C"), HOME, 999, &entry), Registry::Outcome::Full);
    EXPECT_EQ(registry.enroll(name("a"), computer("A"), HOME, 999, &entry), Registry::Outcome::Refreshed);
    EXPECT_EQ(registry.enroll(name("c"), computer("C"), HOME, 1400, &entry), Registry::Outcome::Full);
    // b lapses at 1500 (a was refreshed at 999): c takes its place.
    EXPECT_EQ(registry.enroll(name("c"), computer("C"), HOME, 1500, &entry), Registry::Outcome::Registered);
    EXPECT_EQ(registry.size(), 2u);
    EXPECT_EQ(registry.find(name("b"), 1500), nullptr);
    EXPECT_NE(registry.find(name("a"), 1500), nullptr);
}

} // namespace
