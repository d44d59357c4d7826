#pragma once
// The history list: an owner-data report list. The model keeps only the item count and the
// column captions; the texts come on request from the dialog's rows, which hold them compactly.
#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One row of the list in eight bytes. A time stored as "YYYY-MM-DD hh:mm:ss" is kept as its
// fields; any other time text is kept whole, beside the rows. The temperature is the index of its
// text among the search's temperature texts (few: one decimal within a fixed range); the humidity
// is 0 to 99, or kNoHumidity. A row's number is its place in the list.
struct H_Row {
    std::uint64_t time : 40;
    std::uint64_t temp : 16;
    std::uint64_t humi : 8;
};

// The rows of a search, in blocks: the rows read so far never move while more are added, so a
// long search neither holds two copies of them nor needs their count beforehand.
class H_Rows {
public:
    static constexpr int kNoHumidity = 0xFF;

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // No rows and no texts; the blocks are kept for the next search.
    void clear();

    // The index of a temperature text, added when it is new.
    std::uint16_t Temperature(std::string_view text);
    // A row: its time text as stored (the list shows at most 19 characters), the index of its
    // temperature text, its humidity (0 to 99, or kNoHumidity).
    void Append(std::string_view time, std::uint16_t temperature, int humidity);

    // The texts of row i as the list shows them.
    QString TimeText(std::size_t i) const;
    QString TemperatureText(std::size_t i) const;
    QString HumidityText(std::size_t i) const;

private:
    static constexpr std::size_t kBlockRows = 65536;
    const H_Row& Row(std::size_t i) const { return m_blocks[i / kBlockRows][i % kBlockRows]; }

    std::vector<std::unique_ptr<H_Row[]>> m_blocks;
    std::size_t m_size = 0;
    std::vector<std::string> m_otherTimes;  // the time texts of no usual form
    QStringList m_temperatures;
    std::unordered_map<std::string, std::uint16_t> m_temperatureIndex;
};

class H_ListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    H_ListModel(const H_Rows& rows, QObject* parent = nullptr);

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
    const H_Rows& m_rows;
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
