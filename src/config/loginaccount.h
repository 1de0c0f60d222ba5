#pragma once

#include <QList>
#include <QString>

// One row of the login-account table: the account used for a server.
struct LoginAccount {
    QString server;
    QString user;
    QString password; // in plain; scrambled only in "Settings.ini"
    bool operator==(const LoginAccount &) const = default;
};

using LoginTable = QList<LoginAccount>;
