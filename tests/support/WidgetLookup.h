#pragma once

#include <QString>
#include <QTest>

// Declares var as the child of parent with the given object name; the test fails clearly when the
// window has no such child.
#define REQUIRE_CHILD(var, Type, parent, name)                                                                         \
    auto* var = (parent)->findChild<Type*>(name);                                                                      \
    QVERIFY2(var, qPrintable(QStringLiteral(#Type " doesn't exist: %1").arg(name)))

// Every GUI test starts by checking that it runs headless, so a misconfigured run fails at once.
#define REQUIRE_OFFSCREEN() QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"))
