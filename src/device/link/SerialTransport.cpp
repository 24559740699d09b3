#include "device/link/SerialTransport.h"

#include "device/link/PortSetting.h"
#include "device/link/SerialPorts.h"

#include <QSerialPort>

namespace pslink {

SerialTransport::SerialTransport(const std::atomic<bool>& stop) : Transport(stop) {}

SerialTransport::~SerialTransport()
{
    close();
}

bool SerialTransport::open(const PortSetting& setting, QString* error)
{
    const QString& path = setting.path;
    close();
    m_port = std::make_unique<QSerialPort>();
    m_port->setPortName(path);
    if (!m_port->open(QIODevice::ReadWrite)) {
        if (error) {
            const QSerialPort::SerialPortError code = m_port->error();
            const OpenFailure why = DiagnoseOpenFailure(path, code == QSerialPort::PermissionError,
                                                        code == QSerialPort::DeviceNotFoundError);
            *error = OpenFailureMessage(path, why, m_port->errorString());
        }
        m_port.reset();
        return false;
    }
    const bool configured = m_port->setBaudRate(setting.baud) && m_port->setDataBits(QSerialPort::Data8)
                            && m_port->setParity(QSerialPort::NoParity)
                            && m_port->setStopBits(QSerialPort::OneStop)
                            && m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        if (error)
            *error = OpenFailureMessage(path, OpenFailure::Other, m_port->errorString());
        m_port->close();
        m_port.reset();
        return false;
    }
    m_failed = false;
    drain();
    return true;
}

void SerialTransport::close()
{
    if (m_port) {
        // Nothing queued for a supply that may never read it again: don't wait on a drain.
        m_port->clear(QSerialPort::AllDirections);
        m_port->close();
        m_port.reset();
    }
}

bool SerialTransport::isOpen() const
{
    return m_port && m_port->isOpen();
}

bool SerialTransport::failed() const
{
    return m_failed || !isOpen();
}

bool SerialTransport::write(const std::string& bytes)
{
    if (failed())
        return false;
    const qint64 written = m_port->write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size())) {
        m_failed = m_port->error() == QSerialPort::ResourceError;
        return false;
    }
    // Push it to the driver now; the bytes are few, so this is quick on a working port.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (m_port->bytesToWrite() > 0 && !stopping() && std::chrono::steady_clock::now() < deadline) {
        if (!m_port->waitForBytesWritten(static_cast<int>(kSlice.count())) && m_port->error() == QSerialPort::ResourceError) {
            m_failed = true;
            return false;
        }
    }
    return m_port->bytesToWrite() == 0;
}

std::string SerialTransport::readSome(std::chrono::milliseconds timeout)
{
    if (failed())
        return {};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (m_port->bytesAvailable() > 0) {
            const QByteArray data = m_port->readAll();
            return std::string(data.constData(), static_cast<size_t>(data.size()));
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || stopping())
            return {};
        if (!m_port->waitForReadyRead(static_cast<int>(std::min(left, kSlice).count()))) {
            if (m_port->error() == QSerialPort::ResourceError) {
                m_failed = true; // the device is gone
                return {};
            }
            m_port->clearError(); // a time-out is the normal case here
        }
    }
}

bool SerialTransport::setBaud(int baud)
{
    if (!isOpen() || !m_port->setBaudRate(baud))
        return false;
    drain(); // what came at the old rate is noise at the new one
    return true;
}

void SerialTransport::drain()
{
    if (!isOpen())
        return;
    m_port->clear(QSerialPort::Input);
    m_port->readAll();
}

} // namespace pslink
