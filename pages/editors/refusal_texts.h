// The editor pages' texts for what the data layer refuses: one text for each refusal code, and
// the checks of what is typed into the editors' fields.
#pragma once

#include <QByteArray>
#include <QString>

#include "serverdata/sd_text.h"

// The text for a refusal of the field that `label` names as its sentence's subject ("A usernév",
// "Az URL"); empty for SdRefusal::None.
QString RefusalText(SdRefusal code, const QString& label);

// Why a text typed for a user field cannot be stored, as the dialogs say it ("" when it can).
QString UserFieldRefusal(const QString& label, const QByteArray& bytes);
// Why a typed user name cannot be stored by the name rule of the server's lists ("" when it
// can); label names the field.
QString NameRefusal(const QString& label, const QByteArray& name);
// Why a typed group name cannot be stored ("" when it can).
QString GroupNameRefusal(const QByteArray& name);
