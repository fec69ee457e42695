// Reading a CUPS queue's printer attributes (IPP) into a printer definition: its papers with their
// margins, resolutions, colour, two-sided printing and copies. Nothing here talks to a server, so
// the reading can be tried on attributes built by hand.
#pragma once

#include "platform/spooler/printer_definition.h"

#include <cups/ipp.h>

#include <cstddef>
#include <string_view>

namespace platform::spooler {

// The attributes the reading looks at; a request for a queue's description asks for these.
inline constexpr const char* kQueueAttributeNames[] = {
    "media-col-database",
    "media-col-ready",
    "media-col-default",
    "media-default",
    "media-ready",
    "media-supported",
    "media-bottom-margin-supported",
    "media-left-margin-supported",
    "media-right-margin-supported",
    "media-top-margin-supported",
    "printer-resolution-supported",
    "printer-resolution-default",
    "sides-supported",
    "print-color-mode-supported",
    "color-supported",
    "copies-supported",
};

// Limits of the reading: values examined per attribute, whatever a server sends.
constexpr int kMaxValuesRead = 1024;

// The definition of the queue `queueName` (UTF-8) as its attributes describe it. Whatever the
// attributes lack takes a default (see the README); values that make no sense are passed over.
// Fails only when the queue's name cannot be a printer name.
PrinterDefinitionResult ReadQueueAttributes(std::string_view queueName, ipp_t* attributes);

} // namespace platform::spooler
