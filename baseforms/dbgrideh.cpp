#include "baseforms/dbgrideh.h"

#include "baseforms/dbgrideh_p.h"
#include "dataaccess/mydataset.h"
#include "baseforms/environment.h"
#include "baseforms/inifile.h"
#include "baseforms/uiconfig.h"

#include <QApplication>
#include <QScopedValueRollback>
#include <QClipboard>
#include <QDateTime>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

namespace tessera {

using quillon::FieldType;

// ---------------------------------------------------------------------------------------
// Columns

TColumnEh::TColumnEh(TDBGridEh *grid, const QString &fieldName)
    : QObject(grid)
    , FieldName(fieldName)
    , m_grid(grid)
{}

int TColumnEh::index() const
{
    return int(m_grid->m_columns.indexOf(const_cast<TColumnEh *>(this)));
}

int TColumnEh::fieldIndex() const
{
    return m_grid->m_source ? m_grid->m_source->fieldIndex(FieldName) : -1;
}

QAction *TColumnEh::addEditButton()
{
    auto *a = new QAction(QStringLiteral("..."), this);
    connect(a, &QAction::triggered, m_grid, [this] { emit m_grid->columnEditButtonClicked(this); });
    EditButtons.append(a);
    m_grid->view()->addAction(a);
    return a;
}

namespace detail {

namespace {

bool isDateType(FieldType t)
{
    return t == FieldType::Date || t == FieldType::Time || t == FieldType::DateTime;
}

// One column's filter as typed in the filter row.
struct ParsedFilter
{
    enum Op { Contains, Eq, Ne, Gt, Ge, Lt, Le };
    int column = -1;
    int field = -1;
    Op op = Contains;
    bool numeric = false;
    double number = 0;
    QString text;
};

ParsedFilter parseFilter(const QString &raw, FieldType type)
{
    ParsedFilter f;
    QString t = raw.trimmed();
    static const struct
    {
        const char *token;
        ParsedFilter::Op op;
    } ops[] = {
        {"<>", ParsedFilter::Ne}, {">=", ParsedFilter::Ge}, {"<=", ParsedFilter::Le},
        {"=", ParsedFilter::Eq},  {">", ParsedFilter::Gt},  {"<", ParsedFilter::Lt},
    };
    bool hasOp = false;
    for (const auto &o : ops) {
        const QString token = QString::fromLatin1(o.token);
        if (t.startsWith(token)) {
            f.op = o.op;
            t = t.mid(token.size()).trimmed();
            hasOp = true;
            break;
        }
    }
    f.text = t;
    if (isNumericField(type)) {
        bool ok = false;
        const double d = t.toDouble(&ok);
        if (ok) {
            f.numeric = true;
            f.number = d;
            if (!hasOp)
                f.op = ParsedFilter::Eq;
        }
    }
    return f;
}

bool compareOp(int cmp, ParsedFilter::Op op)
{
    switch (op) {
    case ParsedFilter::Eq:
        return cmp == 0;
    case ParsedFilter::Ne:
        return cmp != 0;
    case ParsedFilter::Gt:
        return cmp > 0;
    case ParsedFilter::Ge:
        return cmp >= 0;
    case ParsedFilter::Lt:
        return cmp < 0;
    case ParsedFilter::Le:
        return cmp <= 0;
    case ParsedFilter::Contains:
        break;
    }
    return false;
}

double numberOf(const QVariant &v, FieldType t)
{
    if (v.isNull() || !v.isValid())
        return -std::numeric_limits<double>::infinity();
    if (isDateType(t)) {
        // Wall-clock order without time-zone arithmetic (much faster than epoch msecs).
        const QDateTime dt = v.toDateTime();
        if (!dt.isValid())
            return -std::numeric_limits<double>::infinity();
        return double(dt.date().toJulianDay()) * 86400000.0 + dt.time().msecsSinceStartOfDay();
    }
    return v.toDouble();
}

} // namespace

GridModel::GridModel(TDBGridEh *grid)
    : QAbstractTableModel(grid)
    , m_grid(grid)
{}

void GridModel::setSource(TDataSource *source)
{
    for (const auto &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_source = source;
    if (source) {
        m_connections << connect(source, &TDataSource::layoutChanged, this, [this] {
            attachModel();
            if (m_grid->m_autoColumns)
                m_grid->buildDefaultColumns();
            else
                rebuild();
        });
    }
    attachModel();
    rebuild();
}

void GridModel::attachModel()
{
    for (const auto &c : std::as_const(m_modelConnections))
        disconnect(c);
    m_modelConnections.clear();
    QAbstractItemModel *m = m_source ? m_source->model() : nullptr;
    if (!m)
        return;
    m_modelConnections << connect(m, &QAbstractItemModel::dataChanged, this,
                                  &GridModel::sourceDataChanged);
    m_modelConnections << connect(m, &QAbstractItemModel::modelReset, this, &GridModel::rebuild);
    m_modelConnections << connect(m, &QAbstractItemModel::rowsInserted, this, &GridModel::rebuild);
    m_modelConnections << connect(m, &QAbstractItemModel::rowsRemoved, this, &GridModel::rebuild);
    m_modelConnections << connect(m, &QAbstractItemModel::layoutChanged, this, &GridModel::rebuild);
}

void GridModel::rebuild()
{
    beginResetModel();
    m_fields = m_source ? m_source->fields() : QList<quillon::FieldDef>();
    m_fieldOf.assign(size_t(m_grid->m_columns.size()), -1);
    for (int c = 0; c < m_grid->m_columns.size(); ++c) {
        const QString &name = m_grid->m_columns[c]->FieldName;
        for (int f = 0; f < m_fields.size(); ++f) {
            if (m_fields[f].name.compare(name, Qt::CaseInsensitive) == 0) {
                m_fieldOf[size_t(c)] = f;
                break;
            }
        }
    }
    while (m_filters.size() < m_grid->m_columns.size())
        m_filters << QString();
    while (m_filters.size() > m_grid->m_columns.size())
        m_filters.removeLast();
    m_sortKeys.removeIf(
        [this](const QPair<int, Qt::SortOrder> &k) { return k.first >= m_grid->m_columns.size(); });
    remap();
    endResetModel();
    emit rowsRemapped();
}

quillon::FieldType GridModel::fieldType(int column) const
{
    const int f = fieldOf(column);
    return f >= 0 ? m_fields[f].type : FieldType::String;
}

void GridModel::remap()
{
    m_rows.clear();
    m_gridOf.clear();
    m_sumsValid = false;
    if (!m_source || !m_source->isActive())
        return;
    const int n = m_source->recordCount();

    QList<ParsedFilter> filters;
    for (int c = 0; c < m_filters.size(); ++c) {
        if (m_filters[c].trimmed().isEmpty() || fieldOf(c) < 0)
            continue;
        ParsedFilter f = parseFilter(m_filters[c], fieldType(c));
        f.column = c;
        f.field = fieldOf(c);
        filters << f;
    }

    m_rows.reserve(size_t(n));
    for (int r = 0; r < n; ++r) {
        bool ok = true;
        for (const ParsedFilter &f : std::as_const(filters)) {
            const QVariant v = m_source->value(r, f.field);
            if (f.numeric) {
                if (v.isNull()) {
                    ok = false;
                } else {
                    const double d = v.toDouble();
                    ok = compareOp(d < f.number ? -1 : (d > f.number ? 1 : 0), f.op);
                }
            } else {
                const QString s = format(v, m_fields[f.field].type);
                if (f.op == ParsedFilter::Contains)
                    ok = s.contains(f.text, Qt::CaseInsensitive);
                else
                    ok = compareOp(s.compare(f.text, Qt::CaseInsensitive), f.op);
            }
            if (!ok)
                break;
        }
        if (ok)
            m_rows.push_back(r);
    }

    // Sort keys: numbers (and date-times, Booleans) compare as numbers, the rest as text.
    struct Key
    {
        bool numeric = false;
        bool desc = false;
        std::vector<double> nums;
        std::vector<QString> strs;
    };
    std::vector<Key> keys;
    for (const auto &sk : std::as_const(m_sortKeys)) {
        const int field = fieldOf(sk.first);
        if (field < 0)
            continue;
        const FieldType type = m_fields[field].type;
        Key k;
        k.desc = sk.second == Qt::DescendingOrder;
        k.numeric = isNumericField(type) || isDateType(type) || type == FieldType::Boolean;
        if (k.numeric) {
            k.nums.resize(static_cast<size_t>(n));
            for (int r : m_rows)
                k.nums[size_t(r)] = numberOf(m_source->value(r, field), type);
        } else {
            k.strs.resize(static_cast<size_t>(n));
            for (int r : m_rows)
                k.strs[size_t(r)] = m_source->value(r, field).toString();
        }
        keys.push_back(std::move(k));
    }
    if (!keys.empty()) {
        std::stable_sort(m_rows.begin(), m_rows.end(), [&](int a, int b) {
            for (const Key &k : keys) {
                int c;
                if (k.numeric) {
                    const double x = k.nums[size_t(a)];
                    const double y = k.nums[size_t(b)];
                    c = x < y ? -1 : (y < x ? 1 : 0);
                } else {
                    c = QString::compare(k.strs[size_t(a)], k.strs[size_t(b)]);
                }
                if (c != 0)
                    return k.desc ? c > 0 : c < 0;
            }
            return false;
        });
    }

    m_gridOf.assign(size_t(n), -1);
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_gridOf[size_t(m_rows[i])] = int(i);
}

int GridModel::gridRow(int sourceRow) const
{
    return sourceRow >= 0 && sourceRow < int(m_gridOf.size()) ? m_gridOf[size_t(sourceRow)] : -1;
}

void GridModel::sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    m_sumsValid = false;
    const int top = topLeft.isValid() ? topLeft.row() : 0;
    const int bottom = bottomRight.isValid() ? bottomRight.row() : int(m_gridOf.size()) - 1;
    if (bottom - top > 200) {
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    } else {
        for (int r = top; r <= bottom; ++r) {
            const int g = gridRow(r);
            if (g >= 0)
                emit dataChanged(index(g, 0), index(g, columnCount() - 1));
        }
    }
    emit rowsRemapped();
}

void GridModel::setFilter(int column, const QString &text)
{
    while (m_filters.size() <= column)
        m_filters << QString();
    if (m_filters[column] == text)
        return;
    m_filters[column] = text;
    beginResetModel();
    remap();
    endResetModel();
    emit rowsRemapped();
}

void GridModel::clearFilters()
{
    for (QString &f : m_filters)
        f.clear();
    beginResetModel();
    remap();
    endResetModel();
    emit rowsRemapped();
}

void GridModel::setSortKeys(const QList<QPair<int, Qt::SortOrder>> &keys)
{
    m_sortKeys = keys;
    beginResetModel();
    remap();
    endResetModel();
    emit rowsRemapped();
}

int GridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int GridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_grid->m_columns.size());
}

QString GridModel::format(const QVariant &value, FieldType type) const
{
    if (!value.isValid() || value.isNull())
        return {};
    switch (type) {
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::FMTBCD:
        return QString::number(value.toDouble(), 'g', 15);
    case FieldType::Date:
        return value.toDate().toString(QStringLiteral("yyyy-MM-dd"));
    case FieldType::Time:
        return value.toTime().toString(QStringLiteral("hh:mm:ss"));
    case FieldType::DateTime: {
        const QDateTime dt = value.toDateTime();
        if (dt.time() == QTime(0, 0))
            return dt.toString(QStringLiteral("yyyy-MM-dd"));
        return dt.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }
    case FieldType::Boolean:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case FieldType::Blob:
        return QStringLiteral("(BLOB)");
    default:
        return value.toString();
    }
}

QString GridModel::text(int row, int column) const
{
    const int f = fieldOf(column);
    const int src = sourceRow(row);
    if (f < 0 || src < 0)
        return {};
    return format(m_source->value(src, f), m_fields[f].type);
}

QVariant GridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_source)
        return {};
    const int c = index.column();
    const int f = fieldOf(c);
    const int src = sourceRow(index.row());
    TColumnEh *col = m_grid->m_columns.value(c);
    if (f < 0 || src < 0 || !col)
        return {};
    switch (role) {
    case Qt::DisplayRole: {
        if (col->Checkboxes)
            return {};
        // A text of several lines shows on its one grid line with a mark at each break
        // (the tool tip shows it as it is).
        QString t = format(m_source->value(src, f), m_fields[f].type);
        if (t.contains(u'\n')) {
            t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            t.replace(u'\n', QStringLiteral(" ↵ "));
        }
        return t;
    }
    case Qt::ToolTipRole: {
        const QString t = format(m_source->value(src, f), m_fields[f].type);
        return t.contains(u'\n') ? QVariant(t) : QVariant();
    }
    case Qt::EditRole:
        return m_source->value(src, f);
    case Qt::CheckStateRole: {
        if (!col->Checkboxes)
            return {};
        const QVariant v = m_source->value(src, f);
        const bool on =
            m_fields[f].type == FieldType::Boolean ? v.toBool() : v.toString() == col->CheckedValue;
        return on ? Qt::Checked : Qt::Unchecked;
    }
    case Qt::BackgroundRole:
        // Record numbers count from 1: the first row is odd.
        return index.row() % 2 == 0 ? m_grid->OddRowColor : m_grid->EvenRowColor;
    case Qt::TextAlignmentRole:
        return int((isNumericField(m_fields[f].type) ? Qt::AlignRight : Qt::AlignLeft) |
                   Qt::AlignVCenter);
    default:
        return {};
    }
}

bool GridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || !m_source)
        return false;
    const int f = fieldOf(index.column());
    const int src = sourceRow(index.row());
    TColumnEh *col = m_grid->m_columns.value(index.column());
    if (f < 0 || src < 0 || !col || m_grid->m_readOnly || col->ReadOnly)
        return false;
    QVariant v = value;
    if (role == Qt::CheckStateRole) {
        const bool on = value.toInt() == Qt::Checked;
        v = m_fields[f].type == FieldType::Boolean
                ? QVariant(on)
                : QVariant(on ? col->CheckedValue : col->UncheckedValue);
    } else if (role != Qt::EditRole) {
        return false;
    }
    m_source->setCurrentRow(src);
    const bool ok = m_source->setValue(src, f, v);
    if (ok) {
        m_sumsValid = false;
        emit dataChanged(index.siblingAtColumn(0), index.siblingAtColumn(columnCount() - 1));
        emit rowsRemapped();
    }
    return ok;
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (TColumnEh *col = m_grid->m_columns.value(section))
        return col->title();
    return {};
}

Qt::ItemFlags GridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags fl = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    TColumnEh *col = m_grid->m_columns.value(index.column());
    if (col && !m_grid->m_readOnly && !col->ReadOnly && fieldOf(index.column()) >= 0)
        fl |= col->Checkboxes ? Qt::ItemIsUserCheckable : Qt::ItemIsEditable;
    return fl;
}

double GridModel::sum(int column) const
{
    if (!m_sumsValid) {
        m_sums.assign(size_t(columnCount()), std::numeric_limits<double>::quiet_NaN());
        m_sumsValid = true;
    }
    if (column < 0 || column >= int(m_sums.size()))
        return 0;
    double &s = m_sums[size_t(column)];
    if (std::isnan(s)) {
        s = 0;
        const int f = fieldOf(column);
        if (f >= 0 && m_source)
            for (int r : m_rows)
                s += m_source->value(r, f).toDouble();
    }
    return s;
}

// ---------------------------------------------------------------------------------------
// Title with filter row

GridHeader::GridHeader(TDBGridEh *grid)
    : QHeaderView(Qt::Horizontal)
    , m_grid(grid)
{
    setSectionsClickable(true);
    setSectionsMovable(true);
    setHighlightSections(false);
    setSortIndicatorShown(true);
    setSortIndicator(-1, Qt::AscendingOrder);
    setDefaultAlignment(Qt::Alignment(Qt::AlignCenter | Qt::TextWordWrap));
    connect(this, &QHeaderView::sectionResized, this, &GridHeader::syncEditors);
    connect(this, &QHeaderView::sectionMoved, this, &GridHeader::syncEditors);
    connect(this, &QHeaderView::geometriesChanged, this, &GridHeader::syncEditors,
            Qt::QueuedConnection);
    connect(this, &QHeaderView::sectionCountChanged, this, &GridHeader::syncEditors,
            Qt::QueuedConnection);
}

int GridHeader::filterHeight() const
{
    return m_filterVisible ? fontMetrics().height() + 8 : 0;
}

QSize GridHeader::sizeHint() const
{
    QSize s = QHeaderView::sizeHint();
    s.setHeight(s.height() + filterHeight());
    return s;
}

void GridHeader::setFilterVisible(bool on)
{
    m_filterVisible = on;
    syncEditors();
    updateGeometry();
}

QLineEdit *GridHeader::editor(int logical) const
{
    if (logical >= m_editors.size() && logical < count())
        const_cast<GridHeader *>(this)->syncEditors();
    return logical >= 0 && logical < m_editors.size() ? m_editors[logical] : nullptr;
}

void GridHeader::syncEditors()
{
    const int n = count();
    while (m_editors.size() < n) {
        const int logical = int(m_editors.size());
        auto *e = new QLineEdit(viewport());
        e->setObjectName(QStringLiteral("filter%1").arg(logical));
        e->setFrame(false);
        e->setPlaceholderText(QStringLiteral("..."));
        e->setText(m_grid->filterText(logical));
        connect(e, &QLineEdit::textChanged, m_grid,
                [this, logical](const QString &text) { m_grid->setFilterText(logical, text); });
        m_editors << e;
    }
    while (m_editors.size() > n)
        delete m_editors.takeLast();
    const int fh = filterHeight();
    for (int i = 0; i < m_editors.size(); ++i) {
        QLineEdit *e = m_editors[i];
        if (!m_filterVisible || isSectionHidden(i)) {
            e->hide();
            continue;
        }
        e->setGeometry(sectionViewportPosition(i) + 1, height() - fh + 1, sectionSize(i) - 2,
                       fh - 2);
        e->show();
    }
}

void GridHeader::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    const int fh = filterHeight();
    QHeaderView::paintSection(painter, rect.adjusted(0, 0, 0, -fh), logicalIndex);
    if (fh > 0)
        painter->fillRect(rect.adjusted(0, rect.height() - fh, 0, 0), Qt::white);
}

void GridHeader::resizeEvent(QResizeEvent *event)
{
    QHeaderView::resizeEvent(event);
    syncEditors();
}

// ---------------------------------------------------------------------------------------
// Footer

GridFooter::GridFooter(TDBGridEh *grid, QTableView *view)
    : QWidget(grid)
    , m_grid(grid)
    , m_view(view)
{
    setObjectName(QStringLiteral("footer"));
}

QSize GridFooter::sizeHint() const
{
    return QSize(100, fontMetrics().height() + 8);
}

int GridFooter::neededWidth(const QString &text) const
{
    return fontMetrics().horizontalAdvance(text) + 8;
}

void GridFooter::fitColumns()
{
    const auto *model = m_view->model();
    for (int c = 0; c < model->columnCount(); ++c) {
        if (m_view->isColumnHidden(c))
            continue;
        const QString text = m_grid->footerText(c);
        if (!text.isEmpty() && m_view->columnWidth(c) < neededWidth(text))
            m_view->setColumnWidth(c, neededWidth(text));
    }
}

void GridFooter::paintEvent(QPaintEvent *)
{
    // A value that does not fit widens its column (after this paint, which the widening
    // repeats); meanwhile it is drawn from its first digit.
    bool tooNarrow = false;
    QPainter p(this);
    p.fillRect(rect(), m_grid->FooterColor);
    const int x0 = m_view->viewport()->geometry().left();
    p.setClipRect(QRect(x0, 0, m_view->viewport()->width(), height()));
    const auto *model = m_view->model();
    for (int c = 0; c < model->columnCount(); ++c) {
        if (m_view->isColumnHidden(c))
            continue;
        const QRect cell(x0 + m_view->columnViewportPosition(c), 0, m_view->columnWidth(c),
                         height());
        // Raised look of the footer cells.
        p.setPen(QColor(255, 255, 255));
        p.drawLine(cell.topLeft(), cell.topRight());
        p.drawLine(cell.topLeft(), cell.bottomLeft());
        p.setPen(QColor(160, 160, 160));
        p.drawLine(cell.bottomLeft(), cell.bottomRight());
        p.drawLine(cell.topRight(), cell.bottomRight());
        const QString text = m_grid->footerText(c);
        if (text.isEmpty())
            continue;
        p.setPen(palette().color(QPalette::WindowText));
        TColumnEh *col = m_grid->Columns().value(c);
        bool right = col && col->FooterType != FooterValueType::StaticText;
        if (cell.width() < neededWidth(text)) {
            tooNarrow = true;
            right = false;
        }
        p.drawText(cell.adjusted(3, 0, -3, 0),
                   (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, text);
    }
    if (tooNarrow)
        QMetaObject::invokeMethod(this, &GridFooter::fitColumns, Qt::QueuedConnection);
}

// ---------------------------------------------------------------------------------------
// View

QItemSelectionModel::SelectionFlags markCommand(const TDBGridEh *grid, const QTableView *view,
                                                const QModelIndex &index, const QEvent *event,
                                                QItemSelectionModel::SelectionFlags standard)
{
    using Flags = QItemSelectionModel::SelectionFlags;
    if (!grid->MultiSelect() || !index.isValid())
        return standard;
    const Flags rows = QItemSelectionModel::Rows;
    Qt::KeyboardModifiers mods = QGuiApplication::keyboardModifiers();
    if (event && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseMove
                  || event->type() == QEvent::MouseButtonRelease
                  || event->type() == QEvent::MouseButtonDblClick))
        mods = static_cast<const QMouseEvent *>(event)->modifiers();
    else if (event && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease))
        mods = static_cast<const QKeyEvent *>(event)->modifiers();
    if (mods & Qt::ShiftModifier)
        return standard; // a range, as everywhere
    const bool anyMarked = view->selectionModel() && view->selectionModel()->hasSelection();
    // No event: a press on the row number (vertical header) toggles; a move of the cursor
    // by the program leaves the marks alone.
    if (!event)
        return QGuiApplication::mouseButtons() != Qt::NoButton
                   ? Flags(QItemSelectionModel::Toggle | rows)
                   : Flags(QItemSelectionModel::NoUpdate);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (mods & Qt::ControlModifier)
            return QItemSelectionModel::Toggle | rows;
        return anyMarked ? Flags(QItemSelectionModel::NoUpdate)
                         : Flags(QItemSelectionModel::Select | rows);
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return QItemSelectionModel::NoUpdate;
    default:
        return standard;
    }
}

GridView::GridView(TDBGridEh *grid)
    : QTableView(grid)
    , m_grid(grid)
{
    setObjectName(QStringLiteral("view"));
}

QItemSelectionModel::SelectionFlags GridView::selectionCommand(const QModelIndex &index,
                                                               const QEvent *event) const
{
    return markCommand(m_grid, this, index, event, QTableView::selectionCommand(index, event));
}

FrozenView::FrozenView(TDBGridEh *grid, QWidget *parent)
    : QTableView(parent)
    , m_grid(grid)
{
    setObjectName(QStringLiteral("frozen"));
}

QItemSelectionModel::SelectionFlags FrozenView::selectionCommand(const QModelIndex &index,
                                                                 const QEvent *event) const
{
    return markCommand(m_grid, this, index, event, QTableView::selectionCommand(index, event));
}

void FrozenView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    // Rows follow the view; sideways the frozen columns stay where they are.
    if (index.isValid())
        QTableView::scrollTo(model()->index(index.row(), 0), hint);
    horizontalScrollBar()->setValue(0);
}

void FrozenView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (horizontalScrollBar()->value() != 0)
        horizontalScrollBar()->setValue(0);
}

void GridView::keyPressEvent(QKeyEvent *event)
{
    if (m_grid->handleKey(event))
        return;
    QTableView::keyPressEvent(event);
}

void GridView::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    m_grid->viewCurrentChanged(current);
}

void GridView::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    m_grid->updateFrozen();
}

void GridView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (dx)
        if (auto *h = qobject_cast<GridHeader *>(horizontalHeader()))
            h->syncEditors();
    if (m_grid->m_footer)
        m_grid->m_footer->update();
}

void GridView::closeEditor(QWidget *editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Enter in a cell editor commits and, with Enter acting as Tab, moves on like Tab.
    const bool moveOn = hint == QAbstractItemDelegate::SubmitModelCache && m_grid->EnterAsTab();
    QTableView::closeEditor(editor, moveOn ? QAbstractItemDelegate::NoHint : hint);
    if (moveOn)
        m_grid->moveToNextCell();
}

void GridView::updateGeometries()
{
    QTableView::updateGeometries();
    if (m_grid->m_footer)
        m_grid->m_footer->update();
}

} // namespace detail

// ---------------------------------------------------------------------------------------
// Grid

TDBGridEh::TDBGridEh(QWidget *parent)
    : QWidget(parent)
{
    EvenRowColor = colorFromBgr(16707053);
    OddRowColor = colorFromBgr(16777215);
    FixedColor = colorFromBgr(16636634);
    FooterColor = FixedColor;

    m_model = new detail::GridModel(this);
    m_view = new detail::GridView(this);
    m_header = new detail::GridHeader(this);
    m_view->setHorizontalHeader(m_header);
    m_view->setModel(m_model);
    m_view->setWordWrap(false);
    m_view->setTextElideMode(Qt::ElideRight);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_footer = new detail::GridFooter(this, m_view);
    m_footer->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view);
    layout->addWidget(m_footer);
    setFocusProxy(m_view);

    connect(m_header, &QHeaderView::sectionClicked, this, [this](int logical) {
        if (!m_titleButtons || !m_localSort)
            return;
        // A click sorts by that column (again: the other way); with Ctrl held the column
        // joins the sort keys (or turns round when it is one already).
        const auto keys = m_model->sortKeys();
        Qt::SortOrder order = Qt::AscendingOrder;
        for (const auto &k : keys)
            if (k.first == logical && k.second == Qt::AscendingOrder)
                order = Qt::DescendingOrder;
        if (QApplication::keyboardModifiers() & Qt::ControlModifier)
            addSortColumn(logical, order);
        else
            sortByColumn(logical, order);
    });
    connect(m_header, &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        if (TColumnEh *c = m_columns.value(logical)) {
            c->Width = size;
            if (!m_sizing)
                c->UserSized = true;
        }
        m_footer->update();
        updateFrozen();
    });
    connect(m_header, &QHeaderView::sectionMoved, m_footer, qOverload<>(&QWidget::update));
    connect(m_model, &detail::GridModel::rowsRemapped, m_footer, qOverload<>(&QWidget::update));
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        {
            const QScopedValueRollback sizing(m_sizing, true);
            for (int c = 0; c < m_columns.size(); ++c) {
                m_view->setColumnWidth(c, m_columns[c]->Width);
                m_view->setColumnHidden(c, !m_columns[c]->Visible);
            }
        }
        if (m_fitColumns)
            fitColumnsToContents();
        m_header->syncEditors();
        if (m_source)
            syncFromSource(m_source->currentRow());
        updateFrozen();
    });
    updateSelectionMode();
    updateEditTriggers();
    applyColors();
}

TDBGridEh::~TDBGridEh()
{
    // The views ask the model (and the model the columns) while they are torn down.
    delete m_frozen;
    m_frozen = nullptr;
    delete m_footer;
    m_footer = nullptr;
    delete m_view;
    m_view = nullptr;
    qDeleteAll(m_columns);
    m_columns.clear();
}

QTableView *TDBGridEh::view() const
{
    return m_view;
}

QAbstractItemModel *TDBGridEh::gridModel() const
{
    return m_model;
}

void TDBGridEh::setDataSource(TDataSource *source)
{
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (source)
        connect(source, &TDataSource::currentRowChanged, this, &TDBGridEh::syncFromSource);
    if (m_autoColumns)
        m_columns.clear();
    m_model->setSource(source);
    if (m_autoColumns)
        buildDefaultColumns();
}

TColumnEh *TDBGridEh::addColumn(const QString &fieldName, const QString &title, int width)
{
    if (m_autoColumns) {
        qDeleteAll(m_columns);
        m_columns.clear();
        m_autoColumns = false;
    }
    auto *c = new TColumnEh(this, fieldName);
    c->TitleCaption = title;
    c->Width = width;
    m_columns.append(c);
    columnsChanged();
    return c;
}

TColumnEh *TDBGridEh::columnByField(const QString &fieldName) const
{
    for (TColumnEh *c : m_columns)
        if (c->FieldName.compare(fieldName, Qt::CaseInsensitive) == 0)
            return c;
    return nullptr;
}

void TDBGridEh::clearColumns()
{
    qDeleteAll(m_columns);
    m_columns.clear();
    m_autoColumns = false;
    columnsChanged();
}

void TDBGridEh::buildDefaultColumns()
{
    qDeleteAll(m_columns);
    m_columns.clear();
    m_autoColumns = true;
    if (m_source) {
        for (const auto &f : m_source->fields()) {
            auto *c = new TColumnEh(this, f.name);
            c->Width = f.size > 0 ? std::clamp(f.size * 7 + 8, 50, 240) : 90;
            m_columns.append(c);
        }
    }
    columnsChanged();
}

void TDBGridEh::fitColumnsToContents()
{
    // Enough rows to see typical values without walking a large result.
    constexpr int kSampleRows = 200;
    constexpr int kMinWidth = 48;
    constexpr int kMaxWidth = 420;
    const QFontMetrics cellMetrics(m_view->font());
    QFont titleFont = m_header->font();
    titleFont.setBold(true); // the current sort column's title is drawn bold
    const QFontMetrics titleMetrics(titleFont);
    const int rows = std::min(visibleRowCount(), kSampleRows);
    const QScopedValueRollback sizing(m_sizing, true);
    for (int c = 0; c < m_columns.size(); ++c) {
        TColumnEh *column = m_columns[c];
        if (column->UserSized || !column->Visible)
            continue;
        // Title: room for the sort marker and the filter row's editor frame.
        int width = titleMetrics.horizontalAdvance(column->title()) + 28;
        if (rows == 0)
            width = std::max(width, column->Width);
        for (int r = 0; r < rows; ++r)
            width = std::max(width, cellMetrics.horizontalAdvance(cellText(r, c)) + 14);
        width = std::clamp(width, kMinWidth, kMaxWidth);
        column->Width = width;
        m_view->setColumnWidth(c, width);
    }
    updateFrozen();
}

void TDBGridEh::columnsChanged()
{
    m_model->rebuild();
    if (m_autoColumns && !m_columns.isEmpty() && !m_pendingLayout.isEmpty())
        applyLayout(m_pendingLayout, true);
    if (m_sumActive)
        applyStandardStyle(UIConfig()); // footer value types of new columns
}

void TDBGridEh::setReadOnly(bool on)
{
    m_readOnly = on;
    updateEditTriggers();
}

void TDBGridEh::setMultiSelect(bool on)
{
    // The highlight of the current row in single selection is no mark.
    if (on != m_multiSelect)
        m_view->clearSelection();
    m_multiSelect = on;
    updateSelectionMode();
}

void TDBGridEh::setAlwaysShowEditor(bool on)
{
    m_alwaysShowEditor = on;
    updateEditTriggers();
}

void TDBGridEh::setTitleButtons(bool on)
{
    m_titleButtons = on;
    m_header->setSectionsClickable(on);
}

void TDBGridEh::updateSelectionMode()
{
    if (m_multiSelect) {
        m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    } else {
        m_view->setSelectionMode(QAbstractItemView::SingleSelection);
        m_view->setSelectionBehavior(m_readOnly ? QAbstractItemView::SelectRows
                                                : QAbstractItemView::SelectItems);
    }
    if (m_frozen) {
        m_frozen->setSelectionMode(m_view->selectionMode());
        m_frozen->setSelectionBehavior(m_view->selectionBehavior());
    }
}

void TDBGridEh::updateEditTriggers()
{
    if (m_readOnly)
        m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    else if (m_alwaysShowEditor)
        m_view->setEditTriggers(QAbstractItemView::AllEditTriggers);
    else
        m_view->setEditTriggers(QAbstractItemView::DoubleClicked |
                                QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed);
    updateSelectionMode();
}

void TDBGridEh::setFrozenCols(int count)
{
    m_frozenCols = std::max(0, count);
    updateFrozen();
}

void TDBGridEh::updateFrozen()
{
    if (m_frozenCols <= 0 || m_columns.isEmpty()) {
        delete m_frozen;
        m_frozen = nullptr;
        return;
    }
    if (!m_frozen) {
        m_frozen = new detail::FrozenView(this, m_view);
        auto *frozenHeader = new detail::GridHeader(this);
        frozenHeader->setSectionsMovable(false);
        m_frozen->setHorizontalHeader(frozenHeader);
        connect(frozenHeader, &QHeaderView::sectionClicked, m_header, &QHeaderView::sectionClicked);
        m_frozen->setModel(m_model);
        m_frozen->setSelectionModel(m_view->selectionModel());
        m_frozen->setSelectionMode(m_view->selectionMode());
        m_frozen->setSelectionBehavior(m_view->selectionBehavior());
        m_frozen->setFocusPolicy(Qt::NoFocus);
        m_frozen->verticalHeader()->hide();
        m_frozen->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        m_frozen->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_frozen->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_frozen->setVerticalScrollMode(m_view->verticalScrollMode());
        m_frozen->setFrameShape(QFrame::NoFrame);
        m_frozen->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_frozen->setStyleSheet(QStringLiteral("QTableView { border-right: 1px solid #808080; }"));
        m_frozen->verticalHeader()->setDefaultSectionSize(
            m_view->verticalHeader()->defaultSectionSize());
        connect(m_frozen->verticalScrollBar(), &QAbstractSlider::valueChanged,
                m_view->verticalScrollBar(), &QAbstractSlider::setValue);
        connect(m_view->verticalScrollBar(), &QAbstractSlider::valueChanged,
                m_frozen->verticalScrollBar(), &QAbstractSlider::setValue);
        m_frozen->show();
    }
    int width = 0;
    for (int c = 0; c < m_model->columnCount(); ++c) {
        const bool frozen = c < m_frozenCols;
        m_frozen->setColumnHidden(c, !frozen);
        if (frozen) {
            m_frozen->setColumnWidth(c, m_view->columnWidth(c));
            width += m_view->columnWidth(c);
        }
    }
    if (auto *fh = qobject_cast<detail::GridHeader *>(m_frozen->horizontalHeader()))
        if (fh->filterVisible() != m_filterVisible)
            fh->setFilterVisible(m_filterVisible);
    m_frozen->horizontalHeader()->setFixedHeight(m_view->horizontalHeader()->height());
    m_frozen->horizontalHeader()->setStyleSheet(m_header->styleSheet());
    m_frozen->setGeometry(m_view->verticalHeader()->width() + m_view->frameWidth(),
                          m_view->frameWidth(), width,
                          m_view->viewport()->height() + m_view->horizontalHeader()->height());
}

void TDBGridEh::setFilterRowVisible(bool on)
{
    m_filterVisible = on;
    m_header->setFilterVisible(on);
    updateFrozen();
    if (!on)
        clearFilter();
}

void TDBGridEh::setFilterText(int column, const QString &text)
{
    for (auto *h :
         {m_header,
          m_frozen ? qobject_cast<detail::GridHeader *>(m_frozen->horizontalHeader()) : nullptr}) {
        if (!h)
            continue;
        if (QLineEdit *e = h->editor(column); e && e->text() != text) {
            const QSignalBlocker block(e);
            e->setText(text);
        }
    }
    m_model->setFilter(column, text);
}

QString TDBGridEh::filterText(int column) const
{
    return m_model->filter(column);
}

void TDBGridEh::clearFilter()
{
    for (int c = 0; c < m_columns.size(); ++c)
        if (QLineEdit *e = m_header->editor(c)) {
            const QSignalBlocker block(e);
            e->clear();
        }
    m_model->clearFilters();
}

QLineEdit *TDBGridEh::filterEditor(int column) const
{
    return m_header->editor(column);
}

void TDBGridEh::setFooterRowCount(int rows)
{
    m_footerRows = std::clamp(rows, 0, 1);
    m_footer->setVisible(m_footerRows > 0);
}

void TDBGridEh::setSumListActive(bool on)
{
    m_sumActive = on;
    m_footer->update();
}

int TDBGridEh::footerHeight() const
{
    return m_footerRows > 0 ? m_footer->sizeHint().height() : 0;
}

void TDBGridEh::recalcFooter()
{
    m_model->invalidateSums();
    m_footer->update();
}

double TDBGridEh::footerSum(int column) const
{
    return m_model->sum(column);
}

QString TDBGridEh::footerText(int column) const
{
    TColumnEh *col = m_columns.value(column);
    if (!col || m_footerRows == 0)
        return {};
    switch (col->FooterType) {
    case FooterValueType::None:
        return {};
    case FooterValueType::StaticText:
        return col->FooterText;
    case FooterValueType::Count:
        return m_sumActive ? QString::number(m_model->rowCount()) : QString();
    case FooterValueType::Sum: {
        if (!m_sumActive)
            return {};
        const double s = m_model->sum(column);
        if (m_model->fieldType(column) == FieldType::Float)
            return QLocale::c().toString(s, 'f', 2);
        return QString::number(qint64(std::llround(s)));
    }
    }
    return {};
}

void TDBGridEh::sortByColumn(int column, Qt::SortOrder order)
{
    setSortKeys(column < 0 ? QList<QPair<int, Qt::SortOrder>>()
                           : QList<QPair<int, Qt::SortOrder>>{{column, order}});
}

void TDBGridEh::addSortColumn(int column, Qt::SortOrder order)
{
    auto keys = m_model->sortKeys();
    bool found = false;
    for (auto &k : keys)
        if (k.first == column) {
            k.second = order;
            found = true;
        }
    if (!found)
        keys.append({column, order});
    setSortKeys(keys);
}

QList<QPair<int, Qt::SortOrder>> TDBGridEh::sortKeys() const
{
    return m_model->sortKeys();
}

void TDBGridEh::setSortKeys(const QList<QPair<int, Qt::SortOrder>> &keys)
{
    m_model->setSortKeys(keys);
    const int column = keys.isEmpty() ? -1 : keys.first().first;
    const Qt::SortOrder order = keys.isEmpty() ? Qt::AscendingOrder : keys.first().second;
    m_header->setSortIndicator(column, order);
    if (m_frozen)
        m_frozen->horizontalHeader()->setSortIndicator(column, order);
}

int TDBGridEh::sortColumn() const
{
    return m_model->sortColumn();
}

Qt::SortOrder TDBGridEh::sortOrder() const
{
    return m_model->sortOrder();
}

int TDBGridEh::visibleRowCount() const
{
    return m_model->rowCount();
}

int TDBGridEh::sourceRow(int row) const
{
    return m_model->sourceRow(row);
}

int TDBGridEh::gridRow(int sourceRow) const
{
    return m_model->gridRow(sourceRow);
}

KeepGridPosition::KeepGridPosition(TDBGridEh *grid)
    : m_grid(grid)
{
    const quillon::TMyDataSet *ds = grid->DataSource() ? grid->DataSource()->DataSet() : nullptr;
    if (ds && ds->Active() && !ds->IsEmpty())
        m_bookmark = ds->GetBookmark();
    m_column = grid->view()->currentIndex().column();
    m_vertical = grid->view()->verticalScrollBar()->value();
    m_horizontal = grid->view()->horizontalScrollBar()->value();
}

KeepGridPosition::~KeepGridPosition()
{
    if (!m_grid)
        return;
    quillon::TMyDataSet *ds = m_grid->DataSource() ? m_grid->DataSource()->DataSet() : nullptr;
    if (!ds || !ds->Active() || m_bookmark < 0 || !ds->BookmarkValid(m_bookmark))
        return;
    try {
        ds->GotoBookmark(m_bookmark);
    } catch (const std::exception &) {
        return; // the record is gone: the grid stays where the operation left it
    }
    QTableView *view = m_grid->view();
    const QModelIndex current = view->currentIndex();
    if (current.isValid() && m_column >= 0 && m_column != current.column())
        view->selectionModel()->setCurrentIndex(view->model()->index(current.row(), m_column),
                                                QItemSelectionModel::NoUpdate);
    view->verticalScrollBar()->setValue(m_vertical);
    view->horizontalScrollBar()->setValue(m_horizontal);
}

QString TDBGridEh::cellText(int row, int column) const
{
    return m_model->text(row, column);
}

QList<QVariant> TDBGridEh::SelectedRows() const
{
    QList<QVariant> list;
    if (!m_source)
        return list;
    QList<int> rows;
    for (const QModelIndex &i : m_view->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    for (int r : rows)
        list << m_source->bookmark(m_model->sourceRow(r));
    return list;
}

void TDBGridEh::selectAllRows()
{
    if (m_multiSelect)
        m_view->selectAll();
}

void TDBGridEh::clearSelectedRows()
{
    m_view->clearSelection();
}

void TDBGridEh::selectRow(int row, bool on)
{
    if (row < 0 || row >= m_model->rowCount() || m_model->columnCount() == 0)
        return;
    const QItemSelection sel(m_model->index(row, 0),
                             m_model->index(row, m_model->columnCount() - 1));
    m_view->selectionModel()->select(sel, on ? QItemSelectionModel::Select
                                             : QItemSelectionModel::Deselect);
}

void TDBGridEh::applyColors()
{
    QPalette p = m_view->palette();
    p.setColor(QPalette::Base, QApplication::palette().color(QPalette::Base));
    m_view->setPalette(p);
    const QString fixed = FixedColor.name();
    m_header->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: %1;"
                                           " border: 0px; border-right: 1px solid #a0a0a0;"
                                           " border-bottom: 1px solid #a0a0a0; padding: 2px; }")
                                .arg(fixed));
    m_view->verticalHeader()->setStyleSheet(m_header->styleSheet());
    m_view->setStyleSheet(
        QStringLiteral("QTableView QTableCornerButton::section { background-color: %1; }")
            .arg(fixed));
    m_view->viewport()->update();
    m_footer->update();
}

void TDBGridEh::applyStandardStyle(const TUIConfig &config)
{
    // Titles: buttons, centred, elided.
    setTitleButtons(true);
    m_header->setDefaultAlignment(Qt::Alignment(Qt::AlignCenter | Qt::TextWordWrap));
    m_view->setTextElideMode(Qt::ElideRight);
    const bool hasData = m_source && m_source->hasData();
    if (hasData) {
        setFilterRowVisible(true);
        m_localSort = true;
    }
    if (m_readOnly)
        setAlwaysShowEditor(false);
    m_view->setShowGrid(true);
    m_view->verticalHeader()->setVisible(true);

    EvenRowColor = colorFromBgr(config.DBGridEvenRowColor);
    OddRowColor = colorFromBgr(config.DBGridColor);
    FixedColor = colorFromBgr(config.DBGridFixedColor);
    FooterColor = FixedColor;
    applyColors();

    if (hasData) {
        setFooterRowCount(1);
        m_sumActive = true;
        for (int c = 0; c < m_columns.size(); ++c) {
            TColumnEh *col = m_columns[c];
            if (!col->EditButtons.isEmpty())
                col->EditButtons.first()->setShortcut(QKeySequence(Qt::Key_F4));
            const int f = m_model->fieldOf(c);
            if (c >= 1 && col->FooterType == FooterValueType::None && f >= 0 &&
                isSummableField(m_model->fieldType(c)))
                col->FooterType = FooterValueType::Sum;
        }
    }
    m_enterAsTab = true;
    m_rowHighlight = true;
    m_footer->update();
}

void TDBGridEh::SaveColumnsLayout(IniFile &ini, const QString &section) const
{
    QStringList order;
    for (int v = 0; v < m_header->count(); ++v) {
        const int logical = m_header->logicalIndex(v);
        if (TColumnEh *c = m_columns.value(logical))
            order << c->FieldName;
    }
    ini.setValue(section, QStringLiteral("Columns"), order.join(QLatin1Char(',')));
    for (TColumnEh *c : m_columns) {
        // Only widths the user chose: the others follow the contents each time.
        if (c->UserSized)
            ini.setValue(section, c->FieldName + QStringLiteral(".Width"), QString::number(c->Width));
        ini.setValue(section, c->FieldName + QStringLiteral(".Visible"),
                     c->Visible ? QStringLiteral("1") : QStringLiteral("0"));
    }
    QStringList markers;
    for (const auto &k : m_model->sortKeys())
        if (TColumnEh *c = m_columns.value(k.first))
            markers << c->FieldName + (k.second == Qt::DescendingOrder ? QStringLiteral(" DESC")
                                                                       : QStringLiteral(" ASC"));
    ini.setValue(section, QStringLiteral("SortMarker"), markers.join(QLatin1Char(';')));
}

void TDBGridEh::RestoreColumnsLayout(const IniFile &ini, const QString &section,
                                     bool orderAndWidthsOnly)
{
    if (!ini.hasSection(section))
        return;
    const auto values = ini.values(section);
    if (m_columns.isEmpty() || m_autoColumns)
        m_pendingLayout = values;
    applyLayout(values, orderAndWidthsOnly);
}

void TDBGridEh::applyLayout(const QList<QPair<QString, QString>> &values, bool orderAndWidthsOnly)
{
    auto valueOf = [&](const QString &key) -> QString {
        for (const auto &v : values)
            if (v.first.compare(key, Qt::CaseInsensitive) == 0)
                return v.second;
        return QStringLiteral("\\none");
    };
    for (TColumnEh *c : m_columns) {
        bool ok = false;
        const int w = valueOf(c->FieldName + QStringLiteral(".Width")).toInt(&ok);
        if (ok && w > 0) {
            const QScopedValueRollback sizing(m_sizing, true);
            c->Width = w;
            c->UserSized = true;
            m_view->setColumnWidth(c->index(), w);
        }
        const QString vis = valueOf(c->FieldName + QStringLiteral(".Visible"));
        if (!orderAndWidthsOnly && vis != QStringLiteral("\\none")) {
            c->Visible = vis != QStringLiteral("0");
            m_view->setColumnHidden(c->index(), !c->Visible);
        }
    }
    const QString orderText = valueOf(QStringLiteral("Columns"));
    const QStringList order = orderText == QStringLiteral("\\none")
                                  ? QStringList()
                                  : orderText.split(QLatin1Char(','), Qt::SkipEmptyParts);
    int visual = 0;
    for (const QString &name : order) {
        TColumnEh *c = columnByField(name.trimmed());
        if (!c)
            continue;
        const int from = m_header->visualIndex(c->index());
        if (from != visual)
            m_header->moveSection(from, visual);
        ++visual;
    }
    updateFrozen();
}

QString TDBGridEh::selectionText() const
{
    QList<int> rows;
    for (const QModelIndex &i : m_view->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    QList<int> columns;
    for (int v = 0; v < m_header->count(); ++v)
        if (!m_header->isSectionHidden(m_header->logicalIndex(v)))
            columns << m_header->logicalIndex(v);
    if (rows.isEmpty()) {
        const QModelIndex cur = m_view->currentIndex();
        return cur.isValid() ? cellText(cur.row(), cur.column()) : QString();
    }
    QStringList lines;
    for (int r : rows) {
        QStringList cells;
        for (int c : columns)
            cells << cellText(r, c);
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}

bool TDBGridEh::handleKey(QKeyEvent *event)
{
    // Edit actions: copy and select all only (no cut, paste or delete of cells).
    if (event->matches(QKeySequence::Copy)) {
        QGuiApplication::clipboard()->setText(selectionText());
        return true;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        m_view->selectAll();
        return true;
    }
    if (event->matches(QKeySequence::Cut) || event->matches(QKeySequence::Paste))
        return true;
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || !m_enterAsTab || event->modifiers() != Qt::NoModifier)
        return false;
    moveToNextCell();
    return true;
}

void TDBGridEh::moveToNextCell()
{
    // Enter acts as Tab: next visible column, then the first column of the next row.
    const QModelIndex cur = m_view->currentIndex();
    if (!cur.isValid())
        return;
    int visual = m_header->visualIndex(cur.column());
    int row = cur.row();
    for (;;) {
        ++visual;
        if (visual >= m_header->count()) {
            visual = 0;
            ++row;
            if (row >= m_model->rowCount())
                return;
        }
        const int logical = m_header->logicalIndex(visual);
        if (!m_header->isSectionHidden(logical)) {
            m_view->setCurrentIndex(m_model->index(row, logical));
            return;
        }
    }
}

void TDBGridEh::viewCurrentChanged(const QModelIndex &current)
{
    if (m_syncing || !m_source || !current.isValid())
        return;
    m_syncing = true;
    m_source->setCurrentRow(m_model->sourceRow(current.row()));
    m_syncing = false;
}

void TDBGridEh::syncFromSource(int sourceRow)
{
    if (m_syncing)
        return;
    const int row = m_model->gridRow(sourceRow);
    if (row < 0)
        return;
    m_syncing = true;
    const int col = std::max(0, m_view->currentIndex().column());
    m_view->selectionModel()->setCurrentIndex(m_model->index(row, col),
                                              m_multiSelect ? QItemSelectionModel::NoUpdate
                                                            : QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
    m_syncing = false;
}

void TDBGridEh::rebuild()
{
    m_model->rebuild();
}

} // namespace tessera
