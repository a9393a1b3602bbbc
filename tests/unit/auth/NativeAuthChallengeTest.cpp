#include <gtest/gtest.h>

#include <set>

#include <QRegularExpression>

#include "auth/BrowserSignInState.h"
#include "auth/NativeAuthChallenge.h"

using namespace tessvale;

TEST(PkceCodeChallenge, ReproducesTheS256ExampleOfTheProofKeyRfc)
{
    EXPECT_EQ(NativeAuthChallenge::pkceCodeChallenge(QStringLiteral("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
        QStringLiteral("E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"));
}

TEST(PkceCodeChallenge, HashesTheUtf8BytesOfTheVerifier)
{
    EXPECT_EQ(NativeAuthChallenge::pkceCodeChallenge(QStringLiteral("ä€")),
        QStringLiteral("L7innYjfifg3CzEts_9o_WqoV1ScxBpoW0Ai6Z5fxaI"));
    EXPECT_EQ(NativeAuthChallenge::pkceCodeChallenge(QString()),
        QStringLiteral("47DEQpj8HBSa-_TImW-5JCeuQeRkm5NMpJWZG3hSuFU"));
}

TEST(NativeAuthChallengeMaterial, HasTheDocumentedShapes)
{
    static const QRegularExpression state(
        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"));
    static const QRegularExpression verifier(QStringLiteral("^[0-9a-f]{64}$"));
    static const QRegularExpression challenge(QStringLiteral("^[A-Za-z0-9_-]{43}$"));
    for (int i = 0; i < 200; ++i) {
        const NativeAuthChallenge material;
        EXPECT_TRUE(state.match(material.state()).hasMatch()) << material.state().toStdString();
        EXPECT_TRUE(verifier.match(material.codeVerifier()).hasMatch()) << material.codeVerifier().toStdString();
        EXPECT_TRUE(challenge.match(material.codeChallenge()).hasMatch()) << material.codeChallenge().toStdString();
        EXPECT_EQ(material.codeChallenge(), NativeAuthChallenge::pkceCodeChallenge(material.codeVerifier()));
    }
}

TEST(NativeAuthChallengeMaterial, NeverRepeatsAStateOrAVerifier)
{
    std::set<QString> states;
    std::set<QString> verifiers;
    for (int i = 0; i < 1000; ++i) {
        const NativeAuthChallenge material;
        EXPECT_TRUE(states.insert(material.state()).second);
        EXPECT_TRUE(verifiers.insert(material.codeVerifier()).second);
        EXPECT_FALSE(verifiers.count(material.state()));
    }
}

TEST(NativeAuthChallengeMaterial, VerifierHalvesAreIndependent)
{
    // Two separate random draws, not one value repeated.
    for (int i = 0; i < 50; ++i) {
        const NativeAuthChallenge material;
        EXPECT_NE(material.codeVerifier().left(32), material.codeVerifier().mid(32));
        EXPECT_NE(material.codeVerifier().left(32), QString(material.state()).remove(QLatin1Char('-')));
    }
}

TEST(BrowserSignInStateValue, EqualOnlyWhenEveryFieldIsEqual)
{
    const QUuid attempt = QUuid::fromString(QStringLiteral("5b1f1f4e-7a0e-4a52-9d1c-2f1e3d4c5b6a"));
    const QUrl page(QStringLiteral("https://tessvale.example/native-auth?attempt=1"));
    const BrowserSignInState state(attempt, page, false);

    EXPECT_EQ(state, BrowserSignInState(attempt, page, false));
    EXPECT_FALSE(state == BrowserSignInState(QUuid::createUuid(), page, false));
    EXPECT_FALSE(state
        == BrowserSignInState(attempt, QUrl(QStringLiteral("https://tessvale.example/native-auth?attempt=2")), false));
    EXPECT_FALSE(state == BrowserSignInState(attempt, page, true));
    EXPECT_EQ(state.attemptID(), attempt);
    EXPECT_EQ(state.authorizationURL(), page);
    EXPECT_FALSE(state.usesLoopbackCallback());
}
