#include "history/H_List.h"

#include <QHeaderView>
#include <QScrollBar>

H_ListModel::H_ListModel(const std::vector<H_Row>& rows, QObject* parent)
    : QAbstractTableModel(parent), m_rows(rows)
{
}

void H_ListModel::SetColumns(const QStringList& captions)
{
    beginResetModel();
    m_captions = captions;
    endResetModel();
}

void H_ListModel::SetItemCount(int count)
{
    beginResetModel();
    m_nItemCount = count;
    endResetModel();
}

int H_ListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_nItemCount; }

int H_ListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_captions.size());
}

QString H_ListModel::CellText(int item, int column) const
{
    if (item < 0 || static_cast<std::size_t>(item) >= m_rows.size()) return QString();
    const H_Row& row = m_rows[static_cast<std::size_t>(item)];
    switch (column) {
    case 0: return QString::number(row.nNo);
    case 1: return QString::fromUtf8(row.szTime);
    case 2: return QString::fromUtf8(row.szTemp);
    case 3: return QString::fromUtf8(row.szHumi);
    default: return QString();
    }
}

QVariant H_ListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) return QVariant();
    if (role == Qt::DisplayRole) return CellText(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return QVariant();
}

QVariant H_ListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_captions.size()) return QVariant();
    if (role == Qt::DisplayRole) return m_captions[section];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return QVariant();
}

H_List::H_List(QWidget* parent) : QTableView(parent)
{
    // A report list: grid lines, whole rows selected, movable headers, no row header.
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->hide();
    // Fixed row height: the view never measures a row, whatever the count.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { OnHScroll(); });
}

void H_List::SetModel(H_ListModel* model)
{
    m_pModel = model;
    setModel(model);
}

// Every horizontal step repaints the whole list, so no half-drawn cell stays behind.
void H_List::OnHScroll() { viewport()->update(); }
