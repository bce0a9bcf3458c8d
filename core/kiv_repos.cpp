#include "kiv_repos.h"

#include "kiv_FileText.h"
#include "kiv_XmlObjects.h"
#include "kiv_errors.h"
#include "kiv_folders.h"
#include "kiv_kinds.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <yaml-cpp/yaml.h>

namespace {

// .repos files are a few lines per copy; a larger file is no such file.
constexpr qint64 MaxReposFileBytes = qint64(16) * 1024 * 1024;

const QString NameAttr = QStringLiteral("Name");
const QString DirAttr = QStringLiteral("Verzeichnis");

QString FromYaml(const std::string& S) {
    return QString::fromStdString(S);
}

// A plain scalar that the YAML readers of vcstool's world (YAML 1.1) would take for a number,
// a truth value, nothing or a date; such a key is written in quotes.
bool NeedsQuotes(const QString& S) {
    static const QRegularExpression Special(
        QStringLiteral("^(y|n|yes|no|true|false|on|off|null|~|=|<<)$"),
        QRegularExpression::CaseInsensitiveOption);
    return S.isEmpty() || Special.match(S).hasMatch() || S.front().isDigit() ||
           QStringLiteral("+-.").contains(S.front());
}

} // namespace

std::vector<TReposEntry> ParseReposText(const QByteArray& Text, const QString& Source) {
    const QString Head = QStringLiteral("Die Datei %1 ist keine gültige .repos-Datei").arg(Source);
    auto At = [&](const YAML::Mark& M, const QString& Why) {
        return EInputError(
            M.is_null() ? QStringLiteral("%1: %2").arg(Head, Why)
                        : QStringLiteral("%1 (Zeile %2): %3").arg(Head).arg(M.line + 1).arg(Why));
    };
    std::vector<TReposEntry> Entries;
    try {
        const YAML::Node Doc = YAML::Load(std::string(Text.constData(), size_t(Text.size())));
        if (!Doc.IsMap() || !Doc["repositories"])
            throw At(Doc.Mark(), QStringLiteral("es fehlt die Liste »repositories:«."));
        const YAML::Node Repos = Doc["repositories"];
        if (Repos.IsNull())
            return Entries;
        if (!Repos.IsMap())
            throw At(Repos.Mark(), QStringLiteral("»repositories:« ist keine Zuordnung von "
                                                  "Pfaden zu Einträgen."));
        QSet<QString> Seen;
        for (const auto& Pair : Repos) {
            if (!Pair.first.IsScalar())
                throw At(Pair.first.Mark(), QStringLiteral("ein Schlüssel ist kein Pfad."));
            TReposEntry E;
            E.Key = FromYaml(Pair.first.Scalar());
            if (Seen.contains(E.Key))
                throw At(Pair.first.Mark(),
                         QStringLiteral("der Pfad »%1« steht zweimal darin.").arg(E.Key));
            Seen.insert(E.Key);
            const YAML::Node& V = Pair.second;
            if (!V.IsMap())
                throw At(Pair.first.Mark(),
                         QStringLiteral("der Eintrag »%1« ist keine Zuordnung mit »type« und "
                                        "»url«.")
                             .arg(E.Key));
            auto Field = [&](const char* Name, bool Needed) {
                const YAML::Node F = V[Name];
                if (!F || F.IsNull()) {
                    if (Needed)
                        throw At(Pair.first.Mark(), QStringLiteral("dem Eintrag »%1« fehlt »%2«.")
                                                        .arg(E.Key, QLatin1String(Name)));
                    return QString();
                }
                if (!F.IsScalar())
                    throw At(F.Mark(), QStringLiteral("»%2« des Eintrags »%1« ist kein einzelner "
                                                      "Wert.")
                                           .arg(E.Key, QLatin1String(Name)));
                return FromYaml(F.Scalar());
            };
            E.Type = Field("type", true);
            E.Url = Field("url", true);
            E.Version = Field("version", false);
            if (E.Url.trimmed().isEmpty())
                throw At(Pair.first.Mark(),
                         QStringLiteral("die »url« des Eintrags »%1« ist leer.").arg(E.Key));
            Entries.push_back(std::move(E));
        }
    } catch (const YAML::Exception& E) {
        throw At(
            E.mark,
            QStringLiteral("das YAML ist fehlerhaft (%1).").arg(QString::fromStdString(E.msg)));
    }
    return Entries;
}

std::vector<TReposEntry> ReadReposFile(const QString& FileName) {
    QByteArray Text;
    try {
        Text = ReadFileBounded(FileName, MaxReposFileBytes);
    } catch (const std::exception& E) {
        throw EInputError(ExceptionText(E));
    }
    return ParseReposText(Text, QStringLiteral("»%1«").arg(FileName));
}

QByteArray ReposFileText(const std::vector<TReposEntry>& Entries) {
    YAML::Emitter Out;
    Out.SetIndent(2);
    Out << YAML::BeginMap << YAML::Key << "repositories" << YAML::Value << YAML::BeginMap;
    for (const TReposEntry& E : Entries) {
        Out << YAML::Key;
        if (NeedsQuotes(E.Key))
            Out << YAML::DoubleQuoted;
        Out << E.Key.toStdString() << YAML::Value << YAML::BeginMap;
        Out << YAML::Key << "type" << YAML::Value << E.Type.toStdString();
        Out << YAML::Key << "url" << YAML::Value << E.Url.toStdString();
        if (!E.Version.isEmpty())
            Out << YAML::Key << "version" << YAML::Value << E.Version.toStdString();
        Out << YAML::EndMap;
    }
    Out << YAML::EndMap << YAML::EndMap;
    QByteArray Text(Out.c_str(), qsizetype(Out.size()));
    if (Entries.empty())
        Text = "repositories: {}";
    return Text + '\n';
}

QString ReposKeyProblem(const QString& Key) {
    if (Key.startsWith(u'/'))
        return QStringLiteral("der Pfad »%1« beginnt mit »/«").arg(Key);
    if (StorableText(Key) != Key)
        return QStringLiteral("der Pfad »%1« enthält Steuerzeichen").arg(Key);
    for (const QString& Part : Key.split(u'/'))
        if (Part.trimmed().isEmpty() || Part == u"." || Part == u"..")
            return QStringLiteral("der Pfad »%1« hat einen leeren Teil oder ».« oder »..«")
                .arg(Key);
    return QString();
}

TkivXmlElement* ChildNamed(const TkivXmlElement* Parent, const QString& Name) {
    for (int i = 0; Parent && i < Parent->ChildCount(); ++i)
        if (SameEntryName(Parent->GetChild(i)->GetAttribute(NameAttr), Name))
            return Parent->GetChild(i);
    return nullptr;
}

const TkivXmlElement* ProjectOverlapping(const TkivXmlElement* Root, const QString& Folder,
                                         const QString& Base) {
    std::vector<const TkivXmlElement*> Pending{Root};
    while (!Pending.empty()) {
        const TkivXmlElement* E = Pending.back();
        Pending.pop_back();
        if (!E)
            continue;
        if (E != Root && ElementKindOf(E->Name()) == ekProject) {
            if (PathsOverlap(ProjectFolder(E->GetAttribute(DirAttr), Base), Folder))
                return E;
            continue;
        }
        for (int i = 0; i < E->ChildCount(); ++i)
            Pending.push_back(E->GetChild(i));
    }
    return nullptr;
}

TReposImport PlanReposImport(const std::vector<TReposEntry>& Entries, const TkivXmlElement* Root,
                             const QStringList& Group, const QString& Base) {
    TReposImport Plan;
    // What the file itself adds, by the same rules: the projects' paths and their folders.
    QHash<QString, QString> Planned; // upper-cased path below Group -> key
    for (const TReposEntry& E : Entries) {
        if (E.Type.compare(QLatin1String("svn"), Qt::CaseInsensitive) != 0) {
            Plan.PassedOver << QStringLiteral("%1: %2").arg(E.Type, E.Key);
            continue;
        }
        const QString KeyProblem = ReposKeyProblem(E.Key);
        if (!KeyProblem.isEmpty()) {
            Plan.Problems << QStringLiteral("»%1«: %2.").arg(E.Key, KeyProblem);
            continue;
        }
        TReposImport::TNew N;
        N.Key = E.Key;
        N.Groups = Group + E.Key.split(u'/');
        N.Name = N.Groups.takeLast();
        N.Url = E.Url.trimmed();
        N.Folder = QDir::cleanPath(Base + u'/' + E.Key);
        Plan.Versions = Plan.Versions || !E.Version.isEmpty();
        // Down the registry as far as it goes: each group on the way is used when it is one,
        // and anything else of that name is in the way.
        const TkivXmlElement* At = Root;
        QString Fault;
        for (const QString& G : std::as_const(N.Groups)) {
            const TkivXmlElement* C = At ? ChildNamed(At, G) : nullptr;
            if (C && ElementKindOf(C->Name()) == ekProject) {
                Fault = QStringLiteral("»%1« ist schon ein Projekt, keine Gruppe").arg(G);
                break;
            }
            At = C;
        }
        if (Fault.isEmpty() && At && ChildNamed(At, N.Name))
            Fault = QStringLiteral("Diese Gruppe existiert schon (»%1«)").arg(N.Name);
        // The file's own entries, by the same rule: one path is a project, so it cannot be a
        // group of another, nor named twice.
        QString Upper;
        for (const QString& Part : E.Key.split(u'/'))
            Upper += UpperAZ(Part) + u'/';
        for (auto It = Planned.constBegin(); Fault.isEmpty() && It != Planned.constEnd(); ++It)
            if (It.key() == Upper || It.key().startsWith(Upper) || Upper.startsWith(It.key()))
                Fault = QStringLiteral("der Name stößt mit dem Eintrag »%1« zusammen").arg(*It);
        if (Fault.isEmpty())
            if (const TkivXmlElement* P = ProjectOverlapping(Root, N.Folder, Base))
                Fault = QStringLiteral("Dieses Verzeichnis existiert schon: %1 überschneidet "
                                       "sich mit dem Projekt »%2« (%3)")
                            .arg(N.Folder, P->GetAttribute(NameAttr),
                                 ProjectFolder(P->GetAttribute(DirAttr), Base));
        for (const TReposImport::TNew& O : Plan.Projects)
            if (Fault.isEmpty() && PathsOverlap(O.Folder, N.Folder))
                Fault = QStringLiteral("Dieses Verzeichnis existiert schon: %1 überschneidet "
                                       "sich mit dem Eintrag »%2«")
                            .arg(N.Folder, O.Key);
        if (!Fault.isEmpty()) {
            Plan.Problems << QStringLiteral("»%1«: %2.").arg(E.Key, Fault);
            continue;
        }
        Planned.insert(Upper, E.Key);
        Plan.Projects.push_back(std::move(N));
    }
    return Plan;
}

std::vector<TkivXmlElement*> ApplyReposImport(const TReposImport& Plan, TkivXmlElement* Root) {
    std::vector<TkivXmlElement*> Added;
    for (const TReposImport::TNew& N : Plan.Projects) {
        TkivXmlElement* At = Root;
        for (const QString& G : N.Groups) {
            TkivXmlElement* C = ChildNamed(At, G);
            if (!C) {
                C = At->AddChild(ElementNames[ekGroup]);
                C->SetAttribute(NameAttr, G);
            }
            At = C;
        }
        TkivXmlElement* P = At->AddChild(ElementNames[ekProject]);
        P->SetAttribute(NameAttr, N.Name);
        P->SetAttribute(DirAttr, N.Folder);
        P->SetAttribute(UrlAttribute, N.Url);
        Added.push_back(P);
    }
    return Added;
}
