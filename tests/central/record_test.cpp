// The checks every datagram passes before central uses it, and the bytes of
// central's answers.
#include <gtest/gtest.h>

#include "central/record.h"
#include "support/peer.h"

using namespace central;

namespace {

Fault check(const Bytes& bytes, Request* out = nullptr) {
    Request request;
    Fault fault = parse(bytes.data(), bytes.size(), request);
    if (out) *out = request;
    return fault;
}

TEST(Record, TheProgramsRequestsPass) {
    Request request;
    ASSERT_EQ(check(registerRecord("office", "PC01"), &request), Fault::None);
    EXPECT_EQ(request.type, MSG_REGISTER);
    EXPECT_EQ(request.name.text(), "office");
    EXPECT_EQ(request.computerName.text(), "PC01");

    ASSERT_EQ(check(queryRecord("office"), &request), Fault::None);
    EXPECT_EQ(request.type, MSG_QUERY);
    EXPECT_EQ(request.name.text(), "office");

    // 19 characters fill the field up to its last byte; an empty computer name
    // is what a server without COMPUTERNAME sends.
    EXPECT_EQ(check(registerRecord(std::string(19, 'n'), "")), Fault::None);
    EXPECT_EQ(check(registerRecord("office", std::string(17, 'c'))), Fault::None);
}

TEST(Record, LeftoversBehindTheTerminatorAreIgnored) {
    // The programs overwrite the fields in place: "office" over "headquarters".
    Bytes bytes = registerRecord("headquarters", "WORKSTATION7");
    Bytes shorter = registerRecord("office", "PC01");
    std::copy(shorter.begin() + 14, shorter.begin() + 21, bytes.begin() + 14);
    std::copy(shorter.begin() + 34, shorter.begin() + 39, bytes.begin() + 34);
    Request a, b;
    ASSERT_EQ(check(bytes, &a), Fault::None);
    ASSERT_EQ(check(shorter, &b), Fault::None);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.computerName, b.computerName);
}

TEST(Record, EverythingElseIsRefusedWithItsReason) {
    auto with = [](Bytes bytes, size_t offset, uint32_t value) {
        writeLittle32(bytes, offset, value);
        return bytes;
    };
    auto resized = [](Bytes bytes, size_t size) {
        bytes.resize(size);
        return bytes;
    };
    Bytes nameWithByte = queryRecord("off ice");
    nameWithByte[17] = 0x7f;
    Bytes computerWithTab = registerRecord("office", "PC\t1");

    EXPECT_EQ(check(Bytes{}), Fault::TooShort);
    EXPECT_EQ(check(Bytes{1, 0, 0, 0, 0x39, 0x30, 0}), Fault::TooShort);
    EXPECT_EQ(check(with(queryRecord("office"), 4, 12346)), Fault::BadMagic);
    EXPECT_EQ(check(with(queryRecord("office"), 0, 0)), Fault::UnknownType);
    EXPECT_EQ(check(with(queryRecord("office"), 0, 7)), Fault::UnknownType);
    EXPECT_EQ(check(with(queryRecord("office"), 0, 0x80000001u)), Fault::UnknownType);
    for (uint32_t type : {2u, 4u, 5u, 6u}) EXPECT_EQ(check(with(queryRecord("office"), 0, type)), Fault::NotARequest);
    EXPECT_EQ(check(resized(registerRecord("office", "PC01"), 36)), Fault::BadLength);
    EXPECT_EQ(check(resized(registerRecord("office", "PC01"), 53)), Fault::BadLength);
    EXPECT_EQ(check(resized(queryRecord("office"), 52)), Fault::BadLength);
    EXPECT_EQ(check(resized(queryRecord("office"), 98)), Fault::BadLength);
    EXPECT_EQ(check(queryRecord("")), Fault::BadName);
    EXPECT_EQ(check(queryRecord(std::string(20, 'a'))), Fault::BadName);
    EXPECT_EQ(check(queryRecord("off\x1b[2Jice")), Fault::BadName);
    EXPECT_EQ(check(nameWithByte), Fault::BadName);
    EXPECT_EQ(check(registerRecord("office", std::string(18, 'c'))), Fault::BadComputerName);
    EXPECT_EQ(check(computerWithTab), Fault::BadComputerName);
}

TEST(Record, NamesAreLoggedWithAnythingUnusualEscaped) {
    Request request;
    ASSERT_EQ(check(queryRecord("my office\\\xe9"), &request), Fault::None);
    EXPECT_EQ(request.name.text(), "my\\x20office\\x5c\\xe9");
}

TEST(Record, AnAnswerCarriesThePeerAsLittleEndianHostOrder) {
    Request request;
    ASSERT_EQ(check(queryRecord("office"), &request), Fault::None);
    Answer answer = makeAnswer(MSG_PEER_ADDRESS, request.name, Endpoint{0x7f000001, 1194},
                               Endpoint{0x01020304, 40000});
    Bytes expected = queryRecord("office");
    writeLittle32(expected, 0, 5);
    Bytes peer = {0x04, 0x03, 0x02, 0x01, 0x40, 0x9c};
    std::copy(peer.begin(), peer.end(), expected.begin() + 8);
    EXPECT_EQ(Bytes(answer.bytes.begin(), answer.bytes.end()), expected);
    EXPECT_EQ(format(answer.to), "127.0.0.1:1194");
}

} // namespace
