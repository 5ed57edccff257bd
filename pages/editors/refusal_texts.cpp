// The editor pages' refusal texts.
#include "pages/editors/refusal_texts.h"

#include <QStringList>

#include "lib/vx_names.h"
#include "serverdata/sd_records.h"

namespace {

QString nameRuleText(const QString& label) {
    QStringList forbidden;
    for (const char* c = VX_NAME_FORBIDDEN; *c; c++)
        forbidden << QString(QLatin1Char(*c));
    return QStringLiteral("%1 nem tartalmazhat szóközt, vezérlő karaktert és a következőket: %2; "
                          "nem kezdődhet ponttal vagy kötőjellel !")
        .arg(label, forbidden.join(QLatin1Char(' ')));
}

} // namespace

QString RefusalText(SdRefusal code, const QString& label) {
    switch (code) {
    case SdRefusal::None:
        return {};
    // A user field's length is bounded by its edit: what it says is what the files cannot hold.
    case SdRefusal::TooLong:
    case SdRefusal::Separator:
    case SdRefusal::Quote:
    case SdRefusal::Control:
        return QStringLiteral("%1 nem tartalmazhat kettőspontot (:), aposztrófot (') és sorvéget "
                              "!")
            .arg(label);
    case SdRefusal::Name:
        return nameRuleText(label);
    case SdRefusal::GroupNameTooLong:
        return QStringLiteral("%1 legfeljebb %2 karakter lehet !")
            .arg(label, QString::number(SD_GROUP_NAME_MAX));
    case SdRefusal::UrlTooLong:
        return QStringLiteral("%1 legfeljebb %2 karakter lehet !")
            .arg(label, QString::number(SD_URL_WORD_MAX));
    case SdRefusal::UrlEmpty:
    case SdRefusal::UrlCharacters:
        return QStringLiteral("%1 nem tartalmazhat szóközt és vezérlő karaktert !").arg(label);
    // No page lets list kinds or server paths be typed; should one be refused, the data layer's
    // own reason stands.
    case SdRefusal::KindLength:
    case SdRefusal::KindCharacter:
    case SdRefusal::PathEmpty:
    case SdRefusal::PathTooLong:
    case SdRefusal::PathDash:
    case SdRefusal::PathCharacters:
        return QString::fromLatin1(sdRefusalReason(code, ""));
    }
    return {};
}

QString UserFieldRefusal(const QString& label, const QByteArray& bytes) {
    // The capacity is checked by the edits; this is about what the list files cannot hold.
    return RefusalText(sdUserFieldProblem(bytes.constData(), static_cast<size_t>(bytes.size()) + 1),
                       label);
}

QString NameRefusal(const QString& label, const QByteArray& name) {
    return RefusalText(sdUserNameProblem(name.constData()), label);
}

QString GroupNameRefusal(const QByteArray& name) {
    return RefusalText(sdGroupNameProblem(name.constData()), QStringLiteral("A csoportnév"));
}
