#include "kiv_kinds.h"

#include "kiv_XmlObjects.h"

#include <QUrl>

const QString ElementNames[3] = {QStringLiteral("SubVersion"), QStringLiteral("ProjektGruppe"),
                                 QStringLiteral("Projekt")};
const QString UrlAttribute = QStringLiteral("URL");

QString LowerAZ(const QString& S) {
    QString R = S;
    for (QChar& C : R)
        if (C >= u'A' && C <= u'Z')
            C = QChar(C.unicode() + 32);
    return R;
}

QString UpperAZ(const QString& S) {
    QString R = S;
    for (QChar& C : R)
        if (C >= u'a' && C <= u'z')
            C = QChar(C.unicode() - 32);
    return R;
}

TElementKind ElementKindOf(const QString& ElementName) {
    const QString Name = LowerAZ(ElementName);
    for (int i = 0; i < 3; ++i)
        if (Name == LowerAZ(ElementNames[i]))
            return static_cast<TElementKind>(i);
    return ekProject;
}

bool SameEntryName(const QString& A, const QString& B) {
    return UpperAZ(A) == UpperAZ(B);
}

QString EnteredText(const QString& Text) {
    return StorableText(Text);
}

QString TrimBlanksAndControls(const QString& S) {
    qsizetype Start = 0, End = S.size();
    while (Start < End && S[Start].unicode() <= 32)
        ++Start;
    while (End > Start && S[End - 1].unicode() <= 32)
        --End;
    return S.mid(Start, End - Start);
}

bool SameRepositoryUrl(const QString& A, const QString& B) {
    if (A.isEmpty() || B.isEmpty())
        return A.isEmpty() && B.isEmpty();
    auto Form = [](const QString& Text) {
        const QUrl U = QUrl(Text.trimmed(), QUrl::TolerantMode)
                           .adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments);
        return U.scheme() + QStringLiteral("://") + U.authority(QUrl::PrettyDecoded) +
               U.path(QUrl::FullyDecoded) + u'?' + U.query(QUrl::FullyDecoded);
    };
    return Form(A) == Form(B);
}
