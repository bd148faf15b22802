// The fetcher over https: it works, and a redirect never takes it back to plain http.
#include "tests/download/FetchTestSupport.h"

#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

namespace {

QByteArray ReadData(const char* name) {
    QFile file(QStringLiteral(MORVEL_TEST_DATA_DIR "/tls/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

class TlsFetch : public FetchFixture {
protected:
    void SetUp() override {
        if (!QSslSocket::supportsSsl()) {
            GTEST_SKIP() << "this Qt has no TLS backend";
        }
        FetchFixture::SetUp();
        const QSslCertificate certificate(ReadData("localhost-cert.pem"));
        ASSERT_FALSE(certificate.isNull());
        QSslConfiguration serverSide = QSslConfiguration::defaultConfiguration();
        serverSide.setLocalCertificate(certificate);
        serverSide.setPrivateKey(QSslKey(ReadData("localhost-key.pem"), QSsl::Rsa));
        ASSERT_TRUE(tlsServer.listen(serverSide));
        ASSERT_TRUE(tlsServer.baseUrl().startsWith(QStringLiteral("https://127.0.0.1:")));
        // The client trusts the test certificate as a root, and only in this program.
        QSslConfiguration clientSide = QSslConfiguration::defaultConfiguration();
        clientSide.addCaCertificate(certificate);
        QSslConfiguration::setDefaultConfiguration(clientSide);
    }

    TestMapServer tlsServer;
};

TEST_F(TlsFetch, ATileComesOverHttpsButARedirectToHttpIsRefused) {
    const QString url = tileUrl(1, 1).replace(server.baseUrl(), tlsServer.baseUrl());
    const QString tile = path(QStringLiteral("A01.jpg"));
    const FetchResult r = fetch(url, tile);
    ASSERT_TRUE(r.ok) << r.reason.toStdString();
    EXPECT_EQ(tlsServer.requests().size(), 1);
    ExpectTileFile(tile, TestMapServer::TileColour(585000, 728000));

    tlsServer.setRedirectBase(server.baseUrl());
    tlsServer.setFault(585000, 728000, TestMapServer::Fault::Redirect);
    const QString other = path(QStringLiteral("A02.jpg"));
    const FetchResult refused = fetch(url, other);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.reason, QStringLiteral("redirección insegura"));
    EXPECT_EQ(tlsServer.requests().size(), 11);
    EXPECT_TRUE(server.requests().isEmpty()); // the plain server was never asked
    EXPECT_FALSE(QFile::exists(other));
}

} // namespace
