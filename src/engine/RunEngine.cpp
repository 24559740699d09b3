#include "engine/RunEngine.h"

#include "device/PowerSupply.h"

CRunEngine::CRunEngine(CPowerSupply& supply)
    : m_connector(supply, m_thread, m_watch),
      m_commands(supply, m_thread, m_watch),
      m_run(supply, m_thread, m_watch, m_connector)
{
}

CRunEngine::~CRunEngine()
{
    m_run.Shutdown();
    m_thread.Stop();
}

void CRunEngine::Settle()
{
    m_thread.Wait<bool>([] { return true; });
}
