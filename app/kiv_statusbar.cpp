#include "kiv_statusbar.h"

#include "kiv_nodestate.h"

#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

TkivStatusBar::TkivStatusBar(QWidget* Parent) : QStatusBar(Parent) {
    setSizeGripEnabled(false);
    FMessage = new QLabel(this);
    FMessage->setObjectName(QStringLiteral("lblStatus"));
    FMessage->setTextFormat(Qt::RichText);
    FMessage->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    FMessage->setOpenExternalLinks(false);
    connect(FMessage, &QLabel::linkActivated, this,
            [this](const QString& Link) { emit OpenRequested(QUrl(Link).toLocalFile()); });
    addWidget(FMessage, 1);
    FProgress = new QProgressBar(this);
    FProgress->setMaximumWidth(160);
    FProgress->setMaximumHeight(16);
    FProgress->setTextVisible(false);
    FProgress->hide();
    addPermanentWidget(FProgress);
    FCancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    FCancel->setObjectName(QStringLiteral("btnAbbrechen"));
    FCancel->setToolTip(QStringLiteral("Laufende Aufgabe abbrechen (Esc)"));
    FCancel->setAutoDefault(false);
    FCancel->hide();
    connect(FCancel, &QPushButton::clicked, this, &TkivStatusBar::CancelClicked);
    addPermanentWidget(FCancel);
    FLegend = new QLabel(QStringLiteral("Farben"), this);
    FLegend->setObjectName(QStringLiteral("lblLegende"));
    FLegend->setEnabled(true);
    addPermanentWidget(FLegend);
    UpdateLegend();
}

void TkivStatusBar::UpdateLegend() {
    FLegend->setToolTip(LegendHtml(palette()));
}

void TkivStatusBar::changeEvent(QEvent* Event) {
    QStatusBar::changeEvent(Event);
    if (Event->type() == QEvent::PaletteChange)
        UpdateLegend();
}

void TkivStatusBar::SetCancelVisible(bool Visible) {
    FCancel->setVisible(Visible);
    if (!Visible)
        FProgress->hide();
}

void TkivStatusBar::ShowProgress(int Done, int Total) {
    const QLocale German(QLocale::German);
    FMessage->setText(QStringLiteral("%1 von %2 Projekten")
                          .arg(German.toString(Done), German.toString(Total)));
    FProgress->setRange(0, std::max(Total, 1));
    FProgress->setValue(Done);
    FProgress->show();
    FCancel->show();
}

void TkivStatusBar::ShowSearch(int Folders, int Found) {
    const QLocale German(QLocale::German);
    FMessage->setText(QStringLiteral("Suche: %1 Ordner durchsucht, %2 gefunden")
                          .arg(German.toString(Folders),
                               Found == 1 ? QStringLiteral("1 Arbeitskopie")
                                          : QStringLiteral("%1 Arbeitskopien")
                                                .arg(German.toString(Found))));
    FCancel->show();
}

void TkivStatusBar::ShowMessage(const QString& Text) {
    FMessage->setText(Text.toHtmlEscaped());
}

void TkivStatusBar::ShowWritten(const QString& FileName) {
    FMessage->setText(QStringLiteral("HTML-Seite geschrieben: %1 – <a href=\"%2\">im Browser "
                                     "öffnen</a>")
                          .arg(QDir::toNativeSeparators(FileName).toHtmlEscaped(),
                               QUrl::fromLocalFile(FileName).toString(QUrl::FullyEncoded)));
}
