#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/LinkState.h"

// The one serial port through which all traffic with the valve runs: raw 8N1, no flow control,
// reads that return at once, opened exclusively. Only the engine's baud-rate test opens it.
bool InitComPort(LinkState& s);
int CloseComPort(LinkState& s);
void ClearComPortInputBuffer(LinkState& s);
void ClearRcvQueue(LinkState& s);

// Line speed in baud for a BaudIndex (0 when unknown or unsupported).
int BaudRateOf(int32_t baudIndex);
// The BaudIndex of a line speed in baud (0 for any other).
int32_t BaudIndexOfRate(int baud);
// The speed a baud-rate test found for the device (FoundBaudIndex) when it is not the remembered
// one (PreferredBaudIndex), for the caller to store; 0 when there is nothing new, and always in
// test mode, where no device answered.
int32_t BaudIndexToRemember(const LinkState& s);
// The device the port in use stands for.
const std::string& PortDevicePath(const LinkState& s);

// Port I/O for the transmitter and receiver threads. Each returns -1 when the device failed; a
// failure that means the device has vanished also marks the port lost.
int PortBytesWaiting(LinkState& s);
long PortRead(LinkState& s, uint8_t* buf, size_t len);
// Reads into the pieces of the receive ring (one read for both) and returns the number of bytes.
long PortReadInto(LinkState& s, const ReceiveRing::Span* spans, int count);
long PortWrite(LinkState& s, const uint8_t* buf, size_t len);
// The device has vanished (hang-up, EIO): the port stays unusable until it is opened afresh.
void MarkPortLost(LinkState& s);
// While the port is lost: whether its device path is there again, so the next request opens it.
// Never in test mode, which has no device. For the window's thread, which alone changes DevicePath.
bool PortDeviceBack(const LinkState& s);

// The system error code of the last failed open, and advice for the user about it.
int LastOpenError(const LinkState& s);
std::string PortOpenAdvice(int err, const std::string& device);
// What to do about a device the user may not open: join its group when that group (not root's)
// may read and write it; otherwise a udev rule that gives `adapterGroup` access.
std::string AccessAdvice(const std::string& device, unsigned mode, const std::string& groupName,
                         bool rootGroup, const std::string& adapterGroup);
