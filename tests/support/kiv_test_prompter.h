// What the tests of the window, the engine and the export share: a prompter that answers every
// message and input box of the code under test and records what was asked.
#pragma once

#include "kiv_prompts.h"

#include <QList>
#include <QStringList>
#include <QTest>

#include <optional>

class TTestPrompter : public TkivPrompter {
public:
    QStringList Infos, Errors, Questions, Inputs;
    QList<bool> Answers;                   // for YesNo, taken from the front; empty: No
    QList<std::optional<QString>> Entries; // for InputText; empty or nullopt: cancelled

    void Info(const QString& M) override { Infos << M; }
    void Error(const QString& M) override { Errors << M; }
    bool YesNo(const QString& M, bool DefaultNo) override {
        Questions << M;
        QTEST_ASSERT(DefaultNo); // every question has No as its default
        return Answers.isEmpty() ? false : Answers.takeFirst();
    }
    bool InputText(const QString& Caption, const QString& Prompt, QString& Text) override {
        Inputs << Caption + u'|' + Prompt + u'|' + Text;
        std::optional<QString> A = Entries.isEmpty() ? std::nullopt : Entries.takeFirst();
        if (!A)
            return false;
        Text = *A;
        return true;
    }
    // For ChooseFile, taken from the front; empty or nullopt: cancelled. What was asked:
    // "caption|proposed path".
    QList<std::optional<QString>> Files;
    QStringList FileQuestions;
    bool ChooseFile(TFileChoice, const QString& Caption, const QString&, QString& Path) override {
        FileQuestions << Caption + u'|' + Path;
        std::optional<QString> A = Files.isEmpty() ? std::nullopt : Files.takeFirst();
        if (!A)
            return false;
        Path = *A;
        return true;
    }
    void Reset() { *this = TTestPrompter(); }
};
