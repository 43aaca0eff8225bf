// ApplyUpdates against a server whose ApplyData answers false without an error.
#include "dataaccess/mydataset.h"
#include "dataaccess/mysktconnection.h"
#include "dataaccess/protocol/protocol.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QCborArray>
#include <QDateTime>
#include <thread>

using namespace quillon;

namespace {

class RefusingServer
{
public:
    RefusingServer()
    {
        m_http.Post(protocol::kSessionPath, [](const httplib::Request &, httplib::Response &res) {
            protocol::SessionReply reply;
            reply.token = QStringLiteral("t");
            reply.expiresAt = QDateTime::currentSecsSinceEpoch() + 3600;
            const QByteArray body = reply.toCbor().toCborValue().toCbor();
            res.set_content(body.toStdString(), protocol::kCborType);
        });
        m_http.Post(R"(/waylink/v1/call/.*)", [this](const httplib::Request &req, httplib::Response &res) {
            ++calls;
            lastPath = req.path;
            QCborArray out = {QCborValue(), QCborValue(), QCborValue(), QCborValue(), false};
            res.set_content(out.toCborValue().toCbor().toStdString(), protocol::kCborType);
        });
        port = m_http.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_http.listen_after_bind(); });
        while (!m_http.is_running())
            std::this_thread::yield();
    }
    ~RefusingServer()
    {
        m_http.stop();
        m_thread.join();
    }
    int port = 0;
    int calls = 0;
    std::string lastPath;

private:
    httplib::Server m_http;
    std::thread m_thread;
};

} // namespace

TEST(ApplyRefused, AnApplyDataAnswerOfFalseIsAnErrorNotASuccess)
{
    RefusingServer server;
    TMySktConnection c;
    c.SetHost(QStringLiteral("127.0.0.1"));
    c.SetPort(server.port);
    c.SetUsername(QStringLiteral("001.x"));
    TMyDataSet ds;
    ds.SetMyConn(&c);
    ds.SetCommandText(QStringLiteral("select * from tab_x alias where 1=0"));
    DataPacket p;
    p.fields = {{QStringLiteral("ID"), FieldType::Integer, 0, false}};
    p.rows = {{1}, {2}};
    ds.SetData(p);
    ds.Append();
    ds.FieldByName(QStringLiteral("ID"))->SetAsInteger(3);
    ds.Post();
    ds.SetRecNo(2);
    try {
        ds.ApplyUpdates(0);
        FAIL() << "a refused apply was reported as success";
    } catch (const DataSetError &e) {
        EXPECT_TRUE(e.message().contains(u"TAB_X")) << e.message().toStdString();
    }
    EXPECT_EQ(server.calls, 1);
    EXPECT_EQ(server.lastPath, "/waylink/v1/call/TfrmServerMethods.ApplyData");
    EXPECT_EQ(ds.ChangeCount(), 1); // nothing is lost
    EXPECT_EQ(ds.RecNo(), 2);
    EXPECT_FALSE(ds.ControlsDisabled());
}
