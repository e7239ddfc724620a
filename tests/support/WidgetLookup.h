#pragma once

// Finding a window's controls by name, and the platform every window suite runs on.

#include <QString>
#include <QTest>

// Declares var as the child of parent with the given object name; the test fails clearly when the
// window has no such child.
#define REQUIRE_CHILD(var, Type, parent, name)                                                                         \
    auto* var = (parent)->findChild<Type*>(name);                                                                      \
    QVERIFY2(var, qPrintable(QStringLiteral(#Type " doesn't exist: %1").arg(name)))

// Every GUI test starts by checking the platform it was meant for, so a misconfigured run fails at
// once: headless on Linux; on Windows the system's own, under Wine on an X server, since Qt's headless
// platform has no fonts there.
#ifdef _WIN32
#define REQUIRE_TEST_PLATFORM() QCOMPARE(QGuiApplication::platformName(), QStringLiteral("windows"))
#else
#define REQUIRE_TEST_PLATFORM() QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"))
#endif
