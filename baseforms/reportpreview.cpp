#include "baseforms/reportpreview.h"

#include "baseforms/report.h"
#include "host/dialogpresenter.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace tessera {

// The sheet of paper with the current page on it, drawn at the widget's scale.
class ReportPreview::PageView : public QWidget
{
public:
    PageView(const TfrxReport *report, QWidget *parent)
        : QWidget(parent)
        , m_report(report)
    {
        setObjectName(QStringLiteral("pageView"));
    }
    int page = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.fillRect(rect(), Qt::white);
        const double scale = width() / m_report->pageSizePt().width();
        p.scale(scale, scale);
        m_report->paintPage(p, page);
    }

private:
    const TfrxReport *m_report;
};

ReportPreview::ReportPreview(const TfrxReport *report, QWidget *parent)
    : QDialog(parent)
    , m_report(report)
{
    setObjectName(QStringLiteral("frxPreview"));
    setWindowTitle(QStringLiteral("打印预览 - %1").arg(report->title()));
    resize(1000, 700);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("tbPreview"));
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto add = [this, bar](const char *name, const QString &text, const QString &tip, auto slot) {
        QAction *a = bar->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setToolTip(tip);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add("actFirstPage", QStringLiteral("首页"), QStringLiteral("第一页"), [this] { showPage(0); });
    add("actPriorPage", QStringLiteral("上一页"), QStringLiteral("上一页 (PgUp)"),
        [this] { showPage(m_page - 1); })
        ->setShortcut(QKeySequence(Qt::Key_PageUp));
    m_pageBox = new QSpinBox(bar);
    m_pageBox->setObjectName(QStringLiteral("spnPage"));
    m_pageBox->setMinimum(1);
    m_pageBox->setMaximum(qMax(1, report->pageCount()));
    m_pageBox->setKeyboardTracking(false);
    bar->addWidget(m_pageBox);
    m_pageCount = new QLabel(QStringLiteral(" / %1 页 ").arg(report->pageCount()), bar);
    m_pageCount->setObjectName(QStringLiteral("lblPageCount"));
    bar->addWidget(m_pageCount);
    connect(m_pageBox, &QSpinBox::valueChanged, this, [this](int v) { showPage(v - 1); });
    add("actNextPage", QStringLiteral("下一页"), QStringLiteral("下一页 (PgDn)"),
        [this] { showPage(m_page + 1); })
        ->setShortcut(QKeySequence(Qt::Key_PageDown));
    add("actLastPage", QStringLiteral("末页"), QStringLiteral("最后一页"),
        [this] { showPage(m_report->pageCount() - 1); });
    bar->addSeparator();
    add("actZoomIn", QStringLiteral("放大"), QStringLiteral("放大"), [this] { setZoom(m_zoom * 1.25); });
    add("actZoomOut", QStringLiteral("缩小"), QStringLiteral("缩小"), [this] { setZoom(m_zoom / 1.25); });
    add("actFitWidth", QStringLiteral("适合宽度"), QStringLiteral("页宽适合窗口"), [this] { setZoom(1.0); });
    bar->addSeparator();
    add("actPrint", QStringLiteral("打印"), QStringLiteral("选择打印机并打印全部页"), [this] { printAsked(); });
    add("actExportPdf", QStringLiteral("导出PDF"), QStringLiteral("把报表保存为 PDF 文件"),
        [this] { const_cast<TfrxReport *>(m_report)->exportToPdfAsked(); });
    bar->addSeparator();
    add("actClosePreview", QStringLiteral("关闭"), QStringLiteral("关闭预览 (Esc)"), [this] { reject(); });
    layout->addWidget(bar);

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("scrPages"));
    m_scroll->setAlignment(Qt::AlignHCenter);
    m_scroll->setBackgroundRole(QPalette::Dark);
    m_view = new PageView(report, m_scroll);
    m_scroll->setWidget(m_view);
    m_scroll->viewport()->installEventFilter(this);
    layout->addWidget(m_scroll, 1);
    showPage(0);
}

void ReportPreview::showPage(int page)
{
    m_page = qBound(0, page, qMax(0, m_report->pageCount() - 1));
    m_view->page = m_page;
    if (m_pageBox->value() != m_page + 1) {
        const QSignalBlocker block(m_pageBox);
        m_pageBox->setValue(m_page + 1);
    }
    m_scroll->verticalScrollBar()->setValue(0);
    m_view->update();
}

void ReportPreview::setZoom(double zoom)
{
    m_zoom = qBound(0.25, zoom, 4.0);
    updatePageSize();
}

void ReportPreview::updatePageSize()
{
    const QSizeF page = m_report->pageSizePt();
    const int width = qMax(200, int((m_scroll->viewport()->width() - 24) * m_zoom));
    m_view->resize(width, int(width * page.height() / page.width()));
}

void ReportPreview::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    updatePageSize();
}

bool ReportPreview::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Resize) {
        updatePageSize();
    }
    return QDialog::eventFilter(watched, event);
}

void ReportPreview::printAsked()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    QPrintDialog choose(&printer, this);
    choose.setWindowTitle(QStringLiteral("打印"));
    if (host::dialogPresenter().execDialog(&choose) != QDialog::Accepted)
        return;
    QProgressDialog progress(QStringLiteral("正在打印……"), QStringLiteral("停止"), 0,
                             m_report->pageCount(), this);
    progress.setWindowTitle(QStringLiteral("打印"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    const bool done = m_report->print(&printer, [&progress](int pages, int total) {
        progress.setValue(pages);
        progress.setLabelText(QStringLiteral("正在打印第 %1 页，共 %2 页……").arg(pages).arg(total));
        QApplication::processEvents();
        return !progress.wasCanceled();
    });
    progress.reset();
    if (!done)
        host::dialogPresenter().showMessage(host::MessageKind::Information, QStringLiteral("提示"),
                                            QStringLiteral("打印已停止，已送出的页会照常打印。"));
}

} // namespace tessera
