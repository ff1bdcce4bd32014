// A status-bar panel that shows one line of text. Unlike a label, a new text repaints the panel
// and nothing else: its size hint never changes, so the status bar is not laid out again on
// every mouse move.
#pragma once

#include <QString>
#include <QWidget>

namespace rawdat {

class StatusPanel : public QWidget {
    Q_OBJECT

public:
    StatusPanel(const QString& text, int width, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    int width_;
};

} // namespace rawdat
