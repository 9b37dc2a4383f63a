#include "serial/win32/dcb_state.h"

namespace tarvo::serial {

LineState StateOf(const DCB& dcb) {
  LineState state;
  state.baudRate = dcb.BaudRate;
  state.dataBits = dcb.ByteSize;
  state.parity = static_cast<Parity>(dcb.Parity);
  state.stopBits = static_cast<StopBits>(dcb.StopBits);
  if (dcb.fOutxCtsFlow)
    state.flow = FlowControl::Hardware;
  else if (dcb.fOutX || dcb.fInX)
    state.flow = FlowControl::XonXoff;
  else
    state.flow = FlowControl::None;
  state.dtrEnabled = dcb.fDtrControl == DTR_CONTROL_ENABLE;
  state.rtsEnabled = dcb.fRtsControl == RTS_CONTROL_ENABLE;
  return state;
}

void Overlay(const LineState& state, DCB* dcb) {
  const LineState current = StateOf(*dcb);
  if (state.baudRate != current.baudRate) dcb->BaudRate = state.baudRate;
  if (state.dataBits != current.dataBits) dcb->ByteSize = state.dataBits;
  if (state.parity != current.parity) dcb->Parity = static_cast<BYTE>(state.parity);
  if (state.stopBits != current.stopBits) dcb->StopBits = static_cast<BYTE>(state.stopBits);
  if (state.flow != current.flow) {
    const bool hardware = state.flow == FlowControl::Hardware;
    const bool software = state.flow == FlowControl::XonXoff;
    dcb->fOutxCtsFlow = hardware;
    dcb->fOutxDsrFlow = hardware;
    dcb->fOutX = software;
    dcb->fInX = software;
    if (hardware) {
      dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
      dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
  }
  if (state.dtrEnabled != current.dtrEnabled)
    dcb->fDtrControl = state.dtrEnabled ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  if (state.rtsEnabled != current.rtsEnabled)
    dcb->fRtsControl = state.rtsEnabled ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
}

}  // namespace tarvo::serial
