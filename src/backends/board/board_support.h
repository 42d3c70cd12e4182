// Pieces the board back-ends (and the GigE back-end's "QBM" board) share:
// the hardware-in-use probe of a board's named mutex, opening a board module
// through its configuration file, input-active callback lists, and the
// reclaiming of QB2 pulse-timer slots.
#pragma once

#include <kiru/cigrab.h>
#include <kiru/pulse_timers.h>

#include "capture/module.h"

class CICamera;

namespace kiru::board {

inline constexpr const char* kInUseCaption = "Kelm Vision Appliance";
inline constexpr const char* kInUseText = "Hardware is in use. Close all Kelm applications before running this program.";
inline constexpr const char* kNoModuleCaption = "No Module";
inline constexpr const char* kNoModuleText = "Specified Image Capture Module not detected.";

// Creates the named mutex without taking it and closes it again. True when
// it existed already: another process (or object) has the board open.
bool BoardMutexExists(const char* name);

// Shows a message box (never blocking off Windows) and tells the grab's
// debug catcher.
void ShowBoardMessage(CIGrab& grab, const char* caption, const char* text);

// Opens module `name` (index 0) with the configuration file `file` in the
// client's application-data folder for `productName`.
CICapMod* OpenWithAppDataFile(const char* productName, const char* name, const char* file);

// Input-active registrations: a node per client callback, pushed at the
// head of a singly linked list. Node has fields index, fn, context,
// callback and next.
template <class Node>
void InputActiveThunk(void* context) {
    auto* node = static_cast<Node*>(context);
    if (node->fn != nullptr) node->fn(node->index, node->context);
}

template <class Node>
Node* AddInputActive(Node*& head, CICapMod* module, ULONG event, UINT index, IFW_INPUT_ACTIVE_CALLBACK fn,
                     void* context) {
    auto* node = new Node{index, fn, context, nullptr, head};
    if (module != nullptr) node->callback = module->CreateIntrCallback(event, &InputActiveThunk<Node>, node);
    head = node;
    return node;
}

// Unlinks and frees `which` (every node when null), deleting the module's
// callbacks when the module is there.
template <class Node>
void RemoveInputActive(Node*& head, CICapMod* module, void* which) {
    for (Node** link = &head; *link != nullptr;) {
        Node* node = *link;
        if (which != nullptr && node != which) {
            link = &node->next;
            continue;
        }
        *link = node->next;
        if (module != nullptr && node->callback != nullptr) module->DeleteIntrCallback(node->callback);
        delete node;
        if (which != nullptr) break;
    }
}

// The look-up table of a board camera (table kind 0): the linear table,
// then the clipped entries; the inverse table entry by entry.
void WriteLutFloor(CICamera* camera, UINT floor);
void WriteLutCeiling(CICamera* camera, UINT ceiling);
void WriteInverseLut(CICamera* camera);

// The QB2 register that carries the board's output bits.
inline constexpr ULONG kQb2OutputRegister = 36;

// Frees the first slot that is empty, finished, or expired (its end time
// has passed without the release having run: the bit is put into its
// released state here) and returns it; null when every timer is still
// running.
CQB2PulseTimer** ReclaimQb2Slot(CQB2PulseTimer* (&slots)[8], CICapMod* module);

}  // namespace kiru::board
