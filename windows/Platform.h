#pragma once

// The platform services the windows use, injected so that tests can script them.

class DesktopTraces;
class FileDialog;
class FileSystem;
class LinkOpener;
class MessageBox;

// The platform services the windows use, passed in so that tests can script them.
struct Platform
{
    MessageBox& messages;
    FileDialog& fileDialog;
    LinkOpener& links;
    FileSystem& files;
    DesktopTraces& traces;
};
