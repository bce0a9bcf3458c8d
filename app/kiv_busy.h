// The busy indicator over the output memo: a folder with a magnifying glass searching it.
#pragma once

#include <QWidget>

class QTimer;

class TBusyIndicator : public QWidget {
    Q_OBJECT
public:
    explicit TBusyIndicator(QWidget* Parent = nullptr);
    void Play();
    void Stop();
    bool Playing() const;
    int Frame() const { return FFrame; }

    static constexpr int FrameCount = 28;
    static constexpr int StopFrame = 27;

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QTimer* FTimer;
    int FFrame = StopFrame;
};
