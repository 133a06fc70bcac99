/* Uploads: the bytes that leave, the answer that comes back, and the cases that
 * send nothing or hand nothing back. */
#include "transfer/upload.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "body_server.h"
#include "support/http_server.h"
#include "transfer/routing.h"
#include "transfer_fixture.h"
#include "winapi/wa_winhttp_hooks.h"

namespace {

using transfer_test::BodyServer;

std::string Reply(int status, const std::string &body)
{
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

class Upload : public transfer_test::TransferTest {
protected:
    DWORD Post(int port, const char *body, char **answer, int type, DWORD size)
    {
        return InternetSendRequestEx(false, "http", L"127.0.0.1", port, nullptr, nullptr, nullptr, nullptr, L"/up",
                                     body, answer, type, true, size);
    }
};

TEST_F(Upload, BodySizeIsTheTextLengthUnlessAMultipartSizeIsGiven)
{
    std::string binary(1000, 'b');
    binary[10] = '\0';
    binary[999] = '\0';
    struct Case {
        const char *name;
        int type;
        const char *body;
        DWORD size;
        std::string sent;
        bool multipart;
    } cases[] = {
        {"multipart, size 0", POST_MULTIPART, "part=1&x", 0, "part=1&x", true},
        {"multipart, size 1000 past zero bytes", POST_MULTIPART, binary.data(), 1000, binary, true},
        {"plain ignores the size", POST_DATA_PLAIN, binary.data(), 1000, binary.substr(0, 10), false},
        {"data ignores the size", POST_DATA, "k=v", 500, "k=v", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BodyServer server(Reply(200, "ok"));
        ASSERT_TRUE(server.ok());
        wa_test::ResetWinHttpFaults();
        EXPECT_EQ(0u, Post(server.port(), c.body, nullptr, c.type, c.size));
        std::vector<BodyServer::Request> requests = server.Requests();
        ASSERT_EQ(1u, requests.size());
        EXPECT_TRUE(requests[0].body == c.sent) << requests[0].body.size();
        EXPECT_EQ(0u, requests[0].head.find("POST /up HTTP/1.1\r\n"));
        EXPECT_EQ(c.multipart, requests[0].head.find("\r\nContent-Type: multipart/form-data\r\n") != std::string::npos);
        EXPECT_NE(std::string::npos, requests[0].head.find("\r\nConnection: Keep-Alive\r\n"));
        if (c.type == POST_MULTIPART) {
            EXPECT_EQ(0, wa_test::WinHttpCallCount("WinHttpSetOption"));
        }
    }
    EXPECT_EQ(1, log_->Count("DEBUG", "InternetSendRequestEx : dwPostSize: 1000 \n"));
    EXPECT_EQ(1, log_->Count("DEBUG", "InternetSendRequestEx : dwPostSize: 8 \n"));
}

TEST_F(Upload, NullBodySendsNothing)
{
    char *answer = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(13u, Post(vt_test::RefusedPort(), nullptr, &answer, POST_DATA, 0));
    EXPECT_EQ(reinterpret_cast<char *>(0x1), answer);
    EXPECT_EQ(0, wa_test::WinHttpCallCount("WinHttpOpen"));
    EXPECT_EQ(0, wa_test::WinHttpCallCount("WinHttpConnect"));
    std::vector<std::string> debug = log_->Messages("DEBUG");
    ASSERT_FALSE(debug.empty());
    EXPECT_EQ("@@@@@@@@ End Of InternetSendRequestEx Method @@@@@@@@ \n", debug.back());
}

TEST_F(Upload, AnswerInSeveralReadsArrivesWholeAndInOrder)
{
    std::string answerText;
    for (int i = 0; answerText.size() < 3000; ++i)
        answerText += "row " + std::to_string(i) + ";";
    BodyServer server(Reply(200, answerText), 4);
    ASSERT_TRUE(server.ok());
    char *answer = nullptr;
    EXPECT_EQ(0u, Post(server.port(), "q=1", &answer, POST_DATA, 0));
    ASSERT_NE(nullptr, answer);
    EXPECT_EQ(answerText, std::string(answer));
    free(answer);
    std::vector<std::string> reads;
    for (const std::string &m : log_->Messages("DEBUG"))
        if (m.rfind("InternetSendRequestEx :  No Of Bytes -> ", 0) == 0)
            reads.push_back(m);
#ifdef WINAPI_STANDIN
    /* Wine's WinHttpReadData waits until the caller's buffer is full or the body
     * ends: there the answer arrives in one read. */
    EXPECT_GE(reads.size(), 2u);
#endif
    EXPECT_EQ(1, log_->Count("INFO", "InternetSendRequestEx : Reading the response sent by the server 127.0.0.1 \n"));
}

TEST_F(Upload, StatusOtherThan200LeavesTheAnswerPointerAlone)
{
    struct Case {
        int status;
        bool wantAnswer;
    } cases[] = {{500, true}, {404, false}, {400, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.status);
        BodyServer server(Reply(c.status, "server trouble"));
        ASSERT_TRUE(server.ok());
        char sentinel = 0;
        char *answer = &sentinel;
        EXPECT_EQ(static_cast<DWORD>(c.status),
                  Post(server.port(), "a=b", c.wantAnswer ? &answer : nullptr, POST_DATA_PLAIN, 0));
        EXPECT_EQ(&sentinel, answer);
        EXPECT_EQ(1, log_->Count("ERROR", "InternetSendRequestEx : Failed to post the data to the server 127.0.0.1 "
                                          "with http status code " +
                                              std::to_string(c.status) + " \n"));
    }
}

TEST_F(Upload, SuccessWithoutAnAnswerPointer)
{
    BodyServer server(Reply(200, "ignored"));
    ASSERT_TRUE(server.ok());
    EXPECT_EQ(0u, Post(server.port(), "a=b", nullptr, POST_DATA_PLAIN, 0));
    EXPECT_EQ(1, log_->Count("INFO", "InternetSendRequestEx : Successfully posted the data to the server 127.0.0.1 \n"));
    EXPECT_EQ(0, log_->Count("INFO", "InternetSendRequestEx : Reading the response sent by the server 127.0.0.1 \n"));
}

}  // namespace
