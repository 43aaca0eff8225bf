#pragma once

#include "dataaccess/packet/datapacket.h"
#include "dataaccess/recordstore.h"
#include "host/errors.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <vector>

namespace quillon {

class TMySktConnection;
class TMyDataSet;

// A dataset operation that cannot be done (wrong state, unknown field, bad value, file
// that cannot be read). The message is meant for the user.
class DataSetError : public host::UserError
{
public:
    using host::UserError::UserError;
};

enum class DataSetState { Inactive, Browse, Edit, Insert };

enum class DataPacketFormat { Binary, XML };

// Options of Locate and Lookup.
enum LocateOption { NoLocateOptions = 0, CaseInsensitive = 1, PartialKey = 2 };
Q_DECLARE_FLAGS(LocateOptions, LocateOption)

// A bookmark names one record of one load of the data; it stays valid across ordering and
// filtering, and becomes invalid when the record is deleted or the data is replaced.
using TBookmark = qint64;
inline constexpr TBookmark kNoBookmark = -1;

// One column of a dataset. Owned by the dataset; valid while the dataset stays open with
// the same fields. Reads give the current record (the edit buffer while editing);
// writes need the Edit or Insert state and go through the dataset's rules.
class TField
{
public:
    const QString &FieldName() const { return m_def.name; }
    FieldType DataType() const { return m_def.type; }
    int Size() const { return m_def.size; }
    bool Required() const { return m_def.required; }
    int Index() const { return m_index; }
    TMyDataSet *DataSet() const { return m_dataSet; }

    // Presentation hints for grids and edits.
    QString DisplayLabel() const { return m_label.isEmpty() ? m_def.name : m_label; }
    void SetDisplayLabel(const QString &label) { m_label = label; }
    bool Visible() const { return m_visible; }
    void SetVisible(bool visible) { m_visible = visible; }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }

    // The value in the field's own type (see convertValue); null for SQL NULL.
    QVariant Value() const;
    bool IsNull() const { return Value().isNull(); }
    // Null gives "", 0, 0.0, an invalid date-time, false.
    QString AsString() const;
    int AsInteger() const;
    qint64 AsLargeInt() const;
    double AsFloat() const;
    QDateTime AsDateTime() const;
    bool AsBoolean() const;

    // Converts to the field's type; text that does not fit raises DataSetError naming the
    // field, and the value stays unchanged. An empty text makes the field NULL.
    void SetValue(const QVariant &value);
    void SetAsString(const QString &value) { SetValue(value); }
    void SetAsInteger(int value) { SetValue(value); }
    void SetAsLargeInt(qint64 value) { SetValue(qlonglong(value)); }
    void SetAsFloat(double value) { SetValue(value); }
    void SetAsDateTime(const QDateTime &value) { SetValue(value); }
    void SetAsBoolean(bool value) { SetValue(value); }
    void Clear() { SetValue(QVariant()); }

    // The value as fetched, before the changes of the change log (or the current value).
    QVariant OldValue() const;

private:
    friend class TMyDataSet;
    TField(TMyDataSet *dataSet, const FieldDef &def, int index)
        : m_dataSet(dataSet), m_def(def), m_index(index)
    {}
    TMyDataSet *m_dataSet;
    FieldDef m_def;
    int m_index;
    QString m_label;
    bool m_visible = true;
    bool m_readOnly = false;
};

// A parameter of a command ("1".."15" of the fee call, :1 .. :n in the text).
struct TParam
{
    QString name;
    FieldType type = FieldType::String;
    QVariant value;
};

// What a dataset tells the controls attached to it.
enum class DataEvent {
    ActiveChanged,   // opened or closed: fields and rows are new
    DataSetChanged,  // the rows or their order changed as a whole
    RecordAboutToBeInserted, // info: the position a record is going to take
    RecordInserted,  // info: the position of a new record
    RecordAboutToBeRemoved,  // info: the position a record is going to leave
    RecordRemoved,   // info: the position a record left
    RecordChanged,   // info: the position whose values changed (post, cancel)
    FieldChanged,    // info: the field index whose value changed in the current record
    Scrolled,        // info: the new current position
    StateChanged,    // browse / edit / insert
};

// A control bound to a dataset (the data source of a grid or an edit). Observers are not
// owned; a destroyed observer must detach itself (DataSetObserver's destructor does).
class DataSetObserver
{
public:
    virtual ~DataSetObserver();
    virtual void dataSetEvent(TMyDataSet *dataSet, DataEvent event, int info) = 0;

private:
    friend class TMyDataSet;
    QList<QPointer<TMyDataSet>> m_attached;
};

// The in-memory client dataset: rows of a data packet with a cursor, editing states, a
// change log, ordering, filtering and locate; fed by the server's provider through its
// connection or by files, and applied back through the server's ApplyData.
class TMyDataSet : public QObject
{
    Q_OBJECT

public:
    using NotifyEvent = std::function<void(TMyDataSet &)>;
    using RecordFilter = std::function<bool(const QVariantList &values)>;

    // Gives the dataset a private connection with default settings (owned), so that a
    // new dataset counts as connected; SetMyConn replaces it.
    explicit TMyDataSet(QObject *owner = nullptr);
    ~TMyDataSet() override;

    // ---- connection --------------------------------------------------------------------
    TMySktConnection *MyConn() const { return m_conn; }
    // Binds to a connection (not owned); nullptr unbinds. The dataset unbinds itself when
    // the connection is destroyed.
    void SetMyConn(TMySktConnection *connection);
    QString ProviderName() const { return m_providerName; }

    QString CommandText() const { return m_commandText; }
    void SetCommandText(const QString &text) { m_commandText = text; }
    // Tag 1 keeps the connection open after an open.
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }

    // Parameters sent with the command text (Open and Execute).
    QList<TParam> &Params() { return m_params; }
    void ClearParams() { m_params.clear(); }
    TParam &CreateParam(FieldType type, const QString &name, const QVariant &value = {});
    TParam *FindParam(const QString &name);
    TParam &ParamByName(const QString &name); // raises DataSetError when missing

    // ---- opening and closing -------------------------------------------------------------
    bool Active() const { return m_state != DataSetState::Inactive; }
    void SetActive(bool active) { active ? Open() : Close(); }
    // Fetches the command text from the provider (opening the connection on demand,
    // closing it after unless Tag is 1), or opens data set by SetData/CreateDataSet.
    void Open();
    void Close();
    // Sends the command text with its parameters; a result with fields is opened as the
    // dataset's data (so that e.g. a fee read as "wResult" is a field afterwards).
    void Execute();
    // Opens an empty dataset with the field definitions of SetFieldDefs.
    void CreateDataSet();
    // Fetches the command text again and returns to the same record number. Refused
    // while changes wait to be applied (they would be lost).
    void Refresh();
    // Removes every record and the change log; the fields stay.
    void EmptyDataSet();
    QList<FieldDef> FieldDefs() const;
    void SetFieldDefs(const QList<FieldDef> &defs) { m_fieldDefs = defs; }

    // The whole content with its change log, and loading a packet as the new content.
    DataPacket Data() const;
    void SetData(const DataPacket &packet);
    void SetData(DataPacket &&packet);
    QString XMLData() const { return Data().toXml(); }

    void SaveToFile(const QString &fileName, DataPacketFormat format = DataPacketFormat::Binary) const;
    void LoadFromFile(const QString &fileName); // binary or XML, recognised by content

    // ---- fields ----------------------------------------------------------------------------
    int FieldCount() const { return int(m_fields.size()); }
    TField *Fields(int index) const;
    TField *FindField(const QString &name) const;       // case-insensitive; nullptr if none
    TField *FieldByName(const QString &name) const;     // raises DataSetError if none
    int fieldIndex(const QString &name) const;          // -1 if none

    // ---- state and cursor -------------------------------------------------------------------
    DataSetState State() const { return m_state; }
    int RecordCount() const { return int(m_order.size()); }
    bool IsEmpty() const { return m_order.empty() && m_state != DataSetState::Insert; }
    int RecNo() const; // 1-based; 0 when empty or on a new record not yet posted
    void SetRecNo(int recNo);
    bool Eof() const { return m_eof; }
    bool Bof() const { return m_bof; }
    void First();
    void Last();
    void Next();
    void Prior();
    int MoveBy(int distance);

    TBookmark GetBookmark() const;
    bool BookmarkValid(TBookmark bookmark) const;
    void GotoBookmark(TBookmark bookmark); // raises DataSetError when not valid

    // ---- editing ------------------------------------------------------------------------------
    void Edit();
    void Insert(); // a new record before the current one
    void Append(); // a new record at the end
    void Post();
    void Cancel();
    void Delete();
    // Posts a pending edit (or cancels an untouched new record); scrolling does this too.
    void CheckBrowseMode();
    bool Modified() const { return m_modified; }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }

    // ---- change log ----------------------------------------------------------------------------
    int ChangeCount() const;
    void CancelUpdates();
    // Forgets the change log, keeping the current values as the fetched ones.
    void MergeChangeLog();
    RowState UpdateStatus() const; // of the current record
    // Sends the changes to the server's ApplyData and loads the packet it returns.
    // Returns 0. Raises on any failure, with the current row and controls restored.
    int ApplyUpdates(int maxErrors);
    // The table ApplyUpdates names: the upper-cased text after the first " FROM ", at most
    // 50 characters, trimmed and cut at the first blank.
    static QString ApplyTableName(const QString &commandText);

    // ---- order, filter, search -------------------------------------------------------------
    // Fields separated by ';'. A field may end with " DESC" or ":D" (descending) and ":N"
    // (text compared without regard to case). Sorting is stable; NULL sorts first.
    QString IndexFieldNames() const { return m_indexFieldNames; }
    void SetIndexFieldNames(const QString &names);
    void SetFilter(RecordFilter filter); // nullptr removes it
    bool Filtered() const { return bool(m_filter); }

    // Moves to the first record (in the current order) whose fields equal the values;
    // PartialKey matches text fields by prefix. Returns false and stays put when none.
    bool Locate(const QString &keyFields, const QVariantList &values, LocateOptions options = {});
    bool Locate(const QString &keyField, const QVariant &value, LocateOptions options = {})
    {
        return Locate(keyField, QVariantList{value}, options);
    }
    // The result fields' value(s) of the first matching record, without moving; null if none.
    QVariant Lookup(const QString &keyFields, const QVariantList &values, const QString &resultField) const;

    // ---- controls -----------------------------------------------------------------------------
    // Nested; while disabled, attached controls hear nothing; the outermost EnableControls
    // tells them that the dataset changed.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disableCount > 0; }
    void attach(DataSetObserver *observer);
    void detach(DataSetObserver *observer);

    // ---- random access for item models (positions are 0-based in the current order) ----------
    QVariant valueAt(int position, int field) const;
    TBookmark bookmarkAt(int position) const;
    int positionOf(TBookmark bookmark) const; // -1 if not visible
    // The position shown for the current record (a new record included); -1 if none.
    int currentPosition() const;
    // Rows a grid shows: the records plus a new record not yet posted.
    int shownCount() const { return RecordCount() + (m_state == DataSetState::Insert ? 1 : 0); }

    // ---- events (Delphi-style handlers) ----------------------------------------------------------
    NotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    NotifyEvent BeforeInsert, AfterInsert, OnNewRecord;
    NotifyEvent BeforeEdit, AfterEdit, BeforePost, AfterPost;
    NotifyEvent BeforeCancel, AfterCancel, BeforeDelete, AfterDelete;
    NotifyEvent BeforeScroll, AfterScroll;

protected:
    // Raises AfterOpen; then closes the bound connection unless Tag is 1.
    virtual void DoAfterOpen();

private:
    friend class TField;
    // What the change log knows of a record; its values live in m_store.
    struct Record
    {
        RowState state = RowState::Unchanged;
        bool deleted = false;
        quint32 changeSeq = 0;   // order in the change log; 0 = no change
    };

    // Checks a packet built in code and brings every value into its field's type (packets
    // decoded from the binary or XML form are already so). Raises DataSetError.
    static void normalizePacket(DataPacket &packet);
    void loadPacket(DataPacket &&packet);
    // Takes rows decoded into a store, with their fields and change log, as the new data.
    void adopt(RecordStore &&store, const QList<FieldDef> &fields, QList<DataPacket::Change> &&changes);
    void clearData();
    void openFields(const QList<FieldDef> &defs);
    void rebuildOrder();
    void sortOrder(std::vector<int> &order) const;
    bool lessThan(int a, int b) const;
    bool passesFilter(int record) const;
    void setCurrent(int position, bool notify = true);
    void checkActive() const;
    void setState(DataSetState state);
    void notify(DataEvent event, int info = 0);
    void call(const NotifyEvent &event);
    // The current record's value (the edit buffer while editing); null when none.
    QVariant currentValue(int field) const;
    void setFieldValue(int field, const QVariant &value);
    void checkRequired() const;
    int insertPositionFor(int record) const;
    quint32 nextChangeSeq() { return ++m_changeSeq; }
    TBookmark makeBookmark(int record) const { return (TBookmark(m_generation) << 32) | record; }
    int recordOf(TBookmark bookmark) const; // -1 when stale
    void fetch(bool execute);

    std::unique_ptr<TMySktConnection> m_ownConn;
    TMySktConnection *m_conn = nullptr;
    QMetaObject::Connection m_connDestroyed;
    QString m_providerName;
    QString m_commandText;
    int m_tag = 0;
    QList<TParam> m_params;
    QList<FieldDef> m_fieldDefs;

    std::vector<std::unique_ptr<TField>> m_fields;
    std::vector<std::unique_ptr<TField>> m_retiredFields; // kept so that old pointers stay safe
    std::vector<Record> m_records;  // every record of this load, deleted ones flagged
    RecordStore m_store;            // their values, by the same record number
    // The values of the load closed last, freed when the next answer's rows begin to come
    // or at the next turn of the event loop: a refresh frees them while it waits for the
    // server instead of before it asks (a fifth of a millisecond for 10,000 rows).
    RecordStore m_released;
    bool m_releasePosted = false;
    QHash<int, QVariantList> m_originals; // as fetched, of modified and deleted records
    mutable QVariantList m_filterRow; // the row handed to the filter, reused
    std::vector<int> m_natural;     // live records in their natural order
    std::vector<int> m_order;       // visible records in the current order
    mutable std::vector<int> m_posOf; // record -> position in m_order (built on demand)
    mutable bool m_posOfValid = false;
    struct SortKey
    {
        int field;
        bool descending;
        bool caseInsensitive;
    };
    std::vector<SortKey> parseIndexFieldNames(const QString &names) const;
    std::vector<SortKey> m_sortKeys;
    QString m_indexFieldNames;
    RecordFilter m_filter;

    DataSetState m_state = DataSetState::Inactive;
    int m_cur = -1;                 // position in m_order
    bool m_bof = true;
    bool m_eof = true;
    QVariantList m_buffer;          // the record being edited or inserted
    int m_insertAt = -1;            // position where a new record shows
    bool m_modified = false;
    bool m_readOnly = false;
    quint32 m_changeSeq = 0;
    quint32 m_generation = 1;

    int m_disableCount = 0;
    bool m_pendingNotify = false;
    QList<DataSetObserver *> m_observers;
};

} // namespace quillon

Q_DECLARE_OPERATORS_FOR_FLAGS(quillon::LocateOptions)
