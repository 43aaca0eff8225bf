#pragma once

#include "dataaccess/mydataset.h"

#include <QPointer>

namespace quillon {

// Keeps a dataset's controls quiet for a scope and re-enables them whatever happens.
// Null datasets are allowed; a dataset freed inside the scope is not touched again.
class ControlsOff
{
public:
    explicit ControlsOff(TMyDataSet *dataSet)
        : m_dataSet(dataSet)
    {
        if (m_dataSet)
            m_dataSet->DisableControls();
    }
    ~ControlsOff()
    {
        if (m_dataSet)
            m_dataSet->EnableControls();
    }
    ControlsOff(const ControlsOff &) = delete;
    ControlsOff &operator=(const ControlsOff &) = delete;

private:
    QPointer<TMyDataSet> m_dataSet;
};

} // namespace quillon
