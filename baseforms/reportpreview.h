#pragma once

#include <QDialog>

class QLabel;
class QScrollArea;
class QSpinBox;

namespace tessera {

class TfrxReport;

// The print preview of a report: one page at a time, drawn when it is shown (a report of
// ten thousand rows opens at its first page at once); paging, zoom, 打印 with progress and
// 停止, 导出PDF.
class ReportPreview : public QDialog
{
    Q_OBJECT
public:
    explicit ReportPreview(const TfrxReport *report, QWidget *parent = nullptr);

    int currentPage() const { return m_page; }
    void showPage(int page);
    // Zoom as a factor of "page width fits the window".
    void setZoom(double zoom);
    double zoom() const { return m_zoom; }
    // Prints through the printer dialog; the pages are sent with a progress window whose
    // 停止 ends the printing after the current page.
    void printAsked();

protected:
    void resizeEvent(QResizeEvent *event) override;
    // The page follows the scroll area's visible width, which is laid out after the dialog
    // itself has been resized (first showing included).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class PageView;
    void updatePageSize();

    const TfrxReport *m_report;
    PageView *m_view;
    QScrollArea *m_scroll;
    QSpinBox *m_pageBox;
    QLabel *m_pageCount;
    int m_page = 0;
    double m_zoom = 1.0;
};

} // namespace tessera
