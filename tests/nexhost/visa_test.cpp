#include "bench_fixture.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace tarq;

namespace {

// A one-connection TCP peer on loopback that answers each line with a reply made by `answer`.
class LinePeer {
  public:
    explicit LinePeer(std::function<std::string(const std::string &)> answer) : answer_(std::move(answer)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        ::listen(listen_, 1);
        thread_ = std::thread([this] { run(); });
    }
    ~LinePeer() {
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        thread_.join();
    }
    std::string resource() const { return "TCPIP0::127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

  private:
    void run() {
        int c = ::accept(listen_, nullptr, nullptr);
        if (c < 0) return;
        std::string line;
        char ch;
        while (::recv(c, &ch, 1, 0) == 1) {
            if (ch != '\n') {
                line += ch;
                continue;
            }
            std::string reply = answer_(line);
            line.clear();
            if (!reply.empty()) ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        ::close(c);
    }
    std::function<std::string(const std::string &)> answer_;
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

class VisaTest : public test::BenchTest {
  protected:
    void adjust(bench::BenchSpec &b) override {
        bench::CarrierSpec second;
        second.resource = "PXI0::2::INSTR";
        second.modules.push_back({3, 0x49, 2002, 1});
        b.carriers.push_back(second);
    }
};

} // namespace

TEST_F(VisaTest, FindsBenchCarriersInOrderAndOpensThem) {
    ViSession rm = 0;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    EXPECT_GT(rm, 1u);
    ViFindList list = 0;
    uint32_t count = 0;
    char name[VI_FIND_BUFLEN];
    ASSERT_EQ(viFindRsrc(rm, "?*INSTR", &list, &count, name), VI_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(name, "PXI0::1::INSTR");
    ASSERT_EQ(viFindNext(list, name), VI_SUCCESS);
    EXPECT_STREQ(name, "PXI0::2::INSTR");
    EXPECT_EQ(viFindNext(list, name), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(viFindRsrc(rm, "?*SOCKET", &list, &count, name), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(count, 0u);

    ViSession vi = 0;
    ASSERT_EQ(viOpen(rm, "pxi0::2::instr", 0, 0, &vi), VI_SUCCESS); // names match without regard to case
    char text[256];
    ASSERT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_NAME, text), VI_SUCCESS);
    EXPECT_STREQ(text, "PXI0::2::INSTR");
    uint16_t intf = 0;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_INTF_TYPE, &intf), VI_SUCCESS);
    EXPECT_EQ(intf, VI_INTF_PXI);
    // A VISA session on the carrier answers as a carrier session too.
    uint16_t present = 0, type = 0;
    EXPECT_EQ(nexhost_m_type_q(vi, 3, &present, &type), 0);
    EXPECT_EQ(present, 1);
    EXPECT_EQ(type, 0x49);

    // User data is pointer-sized.
    int marker = 0;
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_USER_DATA, reinterpret_cast<ViAttrState>(&marker)), VI_SUCCESS);
    ViAttrState back = 0;
    ASSERT_EQ(viGetAttribute(vi, VI_ATTR_USER_DATA, &back), VI_SUCCESS);
    EXPECT_EQ(reinterpret_cast<int *>(back), &marker);
    EXPECT_EQ(viSetAttribute(vi, VI_ATTR_RSRC_NAME, 0), VI_ERROR_ATTR_READONLY);
    EXPECT_EQ(viGetAttribute(vi, 0x12345678, &back), VI_ERROR_NSUP_ATTR);
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_NAME, nullptr), VI_ERROR_USER_BUF);

    // Closing the manager closes what it opened.
    ASSERT_EQ(viClose(rm), VI_SUCCESS);
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_RSRC_NAME, text), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viClose(vi), VI_ERROR_INV_OBJECT);
    EXPECT_EQ(viFindNext(list, name), VI_ERROR_INV_OBJECT);
}

TEST_F(VisaTest, RefusesBadNamesHandlesAndArguments) {
    ViSession rm = 0, vi = 7;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    EXPECT_EQ(viOpen(rm, "PXI9::9::INSTR", 0, 0, &vi), VI_ERROR_RSRC_NFOUND);
    EXPECT_EQ(vi, 0u);
    EXPECT_EQ(viOpen(rm, "garbage", 0, 0, &vi), VI_ERROR_INV_RSRC_NAME);
    EXPECT_EQ(viOpen(rm, nullptr, 0, 0, &vi), VI_ERROR_INV_PARAMETER);
    EXPECT_EQ(viOpen(rm, "PXI0::1::INSTR", 0, 0, nullptr), VI_ERROR_INV_PARAMETER);
    for (ViSession bad : {0u, 1u, 0xFFFFFFFFu}) {
        EXPECT_EQ(viOpen(bad, "PXI0::1::INSTR", 0, 0, &vi), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viClose(bad), VI_ERROR_INV_OBJECT);
        EXPECT_EQ(viSetAttribute(bad, VI_ATTR_TMO_VALUE, 10), VI_ERROR_INV_OBJECT);
    }
    EXPECT_EQ(viOpenDefaultRM(nullptr), VI_ERROR_INV_PARAMETER);
    EXPECT_EQ(viFindRsrc(rm, nullptr, nullptr, nullptr, nullptr), VI_ERROR_INV_EXPR);
    char text[256];
    EXPECT_EQ(viStatusDesc(0, VI_ERROR_TMO, text), VI_SUCCESS);
    EXPECT_NE(std::string(text).find("Timeout"), std::string::npos);
    viClose(rm);
}

TEST(VisaSocket, WritesAndReadsLinesWithTerminationAndTimeOut) {
    LinePeer peer([](const std::string &line) { return line == "*IDN?" ? std::string("SIM,SMB100A,1,1.0\n") : std::string(); });
    ViSession rm = 0, vi = 0;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm, peer.resource().c_str(), 0, 0, &vi), VI_SUCCESS);
    uint16_t intf = 0;
    EXPECT_EQ(viGetAttribute(vi, VI_ATTR_INTF_TYPE, &intf), VI_SUCCESS);
    EXPECT_EQ(intf, VI_INTF_TCPIP);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TERMCHAR_EN, 1), VI_SUCCESS);
    ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 300), VI_SUCCESS);

    uint32_t n = 0;
    ASSERT_EQ(viWrite(vi, "*IDN?\n", 6, &n), VI_SUCCESS);
    EXPECT_EQ(n, 6u);
    char reply[64] = {};
    EXPECT_EQ(viRead(vi, reply, sizeof reply - 1, &n), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(std::string(reply, n), "SIM,SMB100A,1,1.0\n");

    // No answer: the read times out after the session's time-out.
    ASSERT_EQ(viWrite(vi, "*OPC\n", 5, &n), VI_SUCCESS);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(viRead(vi, reply, sizeof reply, &n), VI_ERROR_TMO);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));

    // A reply longer than the buffer comes in pieces.
    ASSERT_EQ(viWrite(vi, "*IDN?\n", 6, &n), VI_SUCCESS);
    EXPECT_EQ(viRead(vi, reply, 4, &n), VI_SUCCESS_MAX_CNT);
    EXPECT_EQ(std::string(reply, n), "SIM,");
    EXPECT_EQ(viRead(vi, reply, sizeof reply, &n), VI_SUCCESS_TERM_CHAR);
    EXPECT_EQ(std::string(reply, n), "SMB100A,1,1.0\n");
    EXPECT_EQ(viWrite(vi, nullptr, 3, &n), VI_ERROR_USER_BUF);
    viClose(vi);
    viClose(rm);
}

TEST(VisaSocket, ReportsRefusedConnections) {
    // Find a port nobody listens on: bind, note it, close.
    int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(sock, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(sock, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(sock);
    ViSession rm = 0, vi = 0;
    ASSERT_EQ(viOpenDefaultRM(&rm), VI_SUCCESS);
    std::string name = "TCPIP::127.0.0.1::" + std::to_string(ntohs(a.sin_port)) + "::SOCKET";
    EXPECT_LT(viOpen(rm, name.c_str(), 0, 0, &vi), 0);
    EXPECT_EQ(vi, 0u);
    EXPECT_LT(viOpen(rm, "TCPIP::127.0.0.1::notaport::SOCKET", 0, 0, &vi), 0);
    viClose(rm);
}
