// The pieces of --json and --report that need no receiver: strings as JSON,
// the images' digests, and the record a run leaves.
#include <gtest/gtest.h>

#include <string>

#include "Commands.h"
#include "Json.h"
#include "RunRecord.h"
#include "Sha256.h"

namespace tarven::cli {
namespace {

TEST(Json, EveryByteSurvivesAndValidUtf8StaysReadable) {
    struct Case {
        std::string in, out;
    } const cases[] = {
        {"IRD-HW 7.2", "\"IRD-HW 7.2\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {std::string("\x00\x01\n\r\x1f\x7f", 6), "\"\\u0000\\u0001\\u000a\\u000d\\u001f\\u007f\""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa1", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xa1\""},  // kept as is
        {"caf\xe9", "\"caf\\u00e9\""},                             // Latin-1, as receivers send it
        {"\x80x", "\"\\u0080x\""},                                 // a continuation byte alone
        {"\xc0\xaf", "\"\\u00c0\\u00af\""},                        // overlong '/'
        {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},             // a surrogate
        {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},  // above U+10FFFF
        {"\xe2\x82", "\"\\u00e2\\u0082\""},                        // cut short at the end
        {"\xf5\x80", "\"\\u00f5\\u0080\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonQuote(c.in), c.out) << c.in;
}

TEST(Sha256, Fips180TestVectors) {
    struct Case {
        std::string message, digest;
    } const cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrs"
         "tu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    };
    for (const auto& c : cases) EXPECT_EQ(Sha256Hex(c.message), c.digest) << c.message;

    // One million 'a', fed in pieces that straddle the 64-byte blocks.
    Sha256 sha;
    const std::string piece(997, 'a');
    std::size_t fed = 0;
    for (; fed + piece.size() <= 1000000; fed += piece.size()) sha.Add(piece.data(), piece.size());
    sha.Add(piece.data(), 1000000 - fed);
    EXPECT_EQ(sha.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(RunRecord, AdapterSerialFromEitherSystemsDescription) {
    EXPECT_EQ(AdapterSerial("FTDI FT232R USB UART, USB 0403:6001, serial A10K3ZQ1"), "A10K3ZQ1");
    EXPECT_EQ(AdapterSerial("USB Serial Port (COM7), USB 0403:6001, serial A10K3ZQ1, latency timer 16 ms"), "A10K3ZQ1");
    EXPECT_EQ(AdapterSerial("Prolific PL2303, USB 067b:2303"), "");
    EXPECT_EQ(AdapterSerial(""), "");
}

TEST(RunRecord, AFailedUploadKeepsItsReasonAndNullsWhatIsUnknown) {
    RunRecord r;
    r.command = "upload";
    r.port = "COM2";
    r.kind = ImageKind::Software;
    r.files = {{"main.bin", FileDigest{1048576, std::string(64, 'a')}}, {"gone.bin", std::nullopt}};
    r.exitStatus = kExitUnconfirmed;
    r.reason = "unconfirmed: the end code \"went\" unanswered";
    r.doubt = DoubtWord(UploadDoubt::EndUnanswered);
    r.seconds = 12.3456;
    const std::string json = RecordJson(r);
    for (const std::string part :
         {"\"command\":\"upload\",\"port\":\"COM2\",\"device\":null,\"adapter_serial\":null,\"kind\":\"software\","
          "\"kind_id\":11992,\"files\":[{\"name\":\"main.bin\",\"bytes\":1048576,\"sha256\":\"aaaa",
          "{\"name\":\"gone.bin\",\"bytes\":null,\"sha256\":null}]",
          "\"hardware\":null,\"software\":null,\"result\":\"unconfirmed\",\"exit_status\":5,"
          "\"reason\":\"unconfirmed: the end code \\\"went\\\" unanswered\",\"doubt\":\"end_unanswered\","
          "\"verify\":null,\"seconds\":12.346}"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n in " << json;
    EXPECT_EQ(json.rfind("{\"time\":\"", 0), 0u) << json;

    // A version read has no kind, files, doubt or check.
    r.command = "version";
    r.hardware = "HW\x01";
    const std::string version = RecordJson(r);
    EXPECT_EQ(version.find("\"files\""), std::string::npos) << version;
    EXPECT_NE(version.find("\"hardware\":\"HW\\u0001\""), std::string::npos) << version;
}

}  // namespace
}  // namespace tarven::cli
