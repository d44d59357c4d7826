#pragma once
// The history list: an owner-data report list. The model keeps only the item count and the
// column captions; the texts come on request from the dialog's rows, which hold them ready-made.
#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>

#include <vector>

// One row of the list. The texts are short and fixed in size; longer values are cut, never
// written past the field.
struct H_Row {
    int nNo;
    char szTime[20];
    char szTemp[10];
    char szHumi[10];
};

class H_ListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    H_ListModel(const std::vector<H_Row>& rows, QObject* parent = nullptr);

    void SetColumns(const QStringList& captions);
    // The item count changes only here; the whole list is repainted.
    void SetItemCount(int count);
    int ItemCount() const { return m_nItemCount; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The text of a cell as the list shows it; empty for a row not held (the rows are refilled
    // while the list still has the previous count) or a column that does not exist.
    QString CellText(int item, int column) const;

private:
    const std::vector<H_Row>& m_rows;
    QStringList m_captions;
    int m_nItemCount = 0;
};

class H_List : public QTableView {
    Q_OBJECT
public:
    explicit H_List(QWidget* parent = nullptr);

    H_ListModel* Model() const { return m_pModel; }
    void SetModel(H_ListModel* model);

protected:
    void OnHScroll();
    H_ListModel* m_pModel = nullptr;
};
