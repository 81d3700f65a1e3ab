// SPDX-License-Identifier: MIT
// A test-only winusb.dll for the Windows program under Wine: a CH341A whose
// command packets run on the simulated programmer and chip in the program's
// own process, configured by EBRILO_SIM as ebrilo-sim is (unplug=K pulls
// it out at its packet K, and the chip's files are saved when WinUSB lets
// go of it). It holds the program to what WinUSB asks: a handle opened for
// overlapped I/O, a timeout set on both pipes before any transfer, packets
// of at most 32 bytes to pipe 0x02 and answers read from 0x82 in whole
// packets. A breach fails the call with ERROR_INVALID_PARAMETER and says
// which on standard error.
#include <windows.h>
#include <winternl.h>
#include <winusb.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "sim/sim_parts.h"

namespace {

struct Session {
  bool timeout_out = false;
  bool timeout_in = false;
  std::uint32_t packets = 0;
  std::vector<std::uint8_t> answer;  // not yet read
};

Session* open_session = nullptr;

BOOL Breach(const char* what) {
  std::fprintf(stderr, "winusb stand-in: %s\n", what);
  std::fflush(stderr);
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// FileModeInformation: a handle opened without FILE_FLAG_OVERLAPPED does
// synchronous I/O.
bool Overlapped(HANDLE device) {
  constexpr ULONG kSynchronous = 0x30;  // FILE_SYNCHRONOUS_IO_ALERT | _NONALERT
  ULONG mode = 0;
  IO_STATUS_BLOCK status{};
  return NtQueryInformationFile(device, &status, &mode, sizeof(mode),
                                static_cast<FILE_INFORMATION_CLASS>(16)) == 0 &&
         (mode & kSynchronous) == 0;
}

Session* SessionOf(WINUSB_INTERFACE_HANDLE handle) {
  return handle == open_session ? open_session : nullptr;
}

}  // namespace

extern "C" {

BOOL WINAPI WinUsb_Initialize(HANDLE device, WINUSB_INTERFACE_HANDLE* handle) {
  if (open_session != nullptr) {
    return Breach("WinUsb_Initialize while the device is in use");
  }
  if (!Overlapped(device)) {
    return Breach("WinUsb_Initialize on a handle not opened for overlapped I/O");
  }
  SimProgrammerOpen();
  open_session = new Session;
  *handle = open_session;
  return TRUE;
}

BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE handle) {
  if (SessionOf(handle) == nullptr) {
    return Breach("WinUsb_Free of a handle not in use");
  }
  SimProgrammerClose();
  delete open_session;
  open_session = nullptr;
  return TRUE;
}

BOOL WINAPI WinUsb_SetPipePolicy(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, ULONG policy,
                                 ULONG length, PVOID value) {
  Session* session = SessionOf(handle);
  if (session == nullptr || policy != PIPE_TRANSFER_TIMEOUT || length != sizeof(ULONG) ||
      *static_cast<ULONG*>(value) == 0 || (pipe != 0x02 && pipe != 0x82)) {
    return Breach("WinUsb_SetPipePolicy other than a timeout on pipe 0x02 or 0x82");
  }
  (pipe == 0x02 ? session->timeout_out : session->timeout_in) = true;
  return TRUE;
}

BOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer,
                             ULONG length, PULONG sent, LPOVERLAPPED) {
  Session* session = SessionOf(handle);
  if (session == nullptr || !session->timeout_out || !session->timeout_in) {
    return Breach("WinUsb_WritePipe before a timeout was set on both pipes");
  }
  if (pipe != 0x02 || length > 32) {
    return Breach("WinUsb_WritePipe other than a packet of at most 32 bytes to pipe 0x02");
  }
  const std::optional<std::uint32_t> unplug = SimSession().unplug_at;
  if (unplug && session->packets >= *unplug) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  ++session->packets;
  std::vector<std::uint8_t> answer;
  std::string reason;
  if (!SimProgrammerRun(std::span(buffer, length), answer, reason)) {
    return Breach(reason.c_str());
  }
  session->answer.insert(session->answer.end(), answer.begin(), answer.end());
  *sent = length;
  return TRUE;
}

// The device sends the answer in packets of 32 bytes: a read takes as many
// as it has room for, and ends at the answer's last, shorter packet.
BOOL WINAPI WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer, ULONG length,
                            PULONG received, LPOVERLAPPED) {
  Session* session = SessionOf(handle);
  if (session == nullptr || pipe != 0x82 || length == 0 || length % 32 != 0) {
    return Breach("WinUsb_ReadPipe other than whole packets from pipe 0x82");
  }
  if (session->answer.empty()) {
    SetLastError(ERROR_SEM_TIMEOUT);
    return FALSE;
  }
  const std::size_t size = std::min<std::size_t>(length, session->answer.size());
  std::copy_n(session->answer.begin(), size, buffer);
  session->answer.erase(session->answer.begin(),
                        session->answer.begin() + static_cast<std::ptrdiff_t>(size));
  *received = static_cast<ULONG>(size);
  return TRUE;
}

}  // extern "C"
