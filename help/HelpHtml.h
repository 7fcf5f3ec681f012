#pragma once

// A topic as HTML, for the help window (Qt's rich text) and for reading a
// help file in a browser: paragraphs, bold/italic/underline, font sizes,
// tables, jumps as links and pictures as images.
#include "HelpFile.h"

#include <functional>

struct HelpHtmlLinks {
    // The address of a jump to the topic with this order (1-based).
    std::function<QString(int order, bool popup)> topic;
    // The address of a run's picture, given the picture as decoded for the tag's size (null when
    // missing or unreadable): each picture is decoded once, here.
    std::function<QString(const QString& picture, const HelpImage& image)> picture;
};

// The parts of a topic: the region at its top that does not scroll, the rest, or both.
enum class HelpRegion { Whole, NonScrolling, Scrolling };
// Links as the platform's viewer draws them: a jump green with a solid underline, a pop-up green
// with a dotted one (Qt's rich text reads the underline style from text-underline-style).
inline constexpr const char* HelpJumpLinkStyle = "color: #008000; text-decoration: underline";
inline constexpr const char* HelpPopupLinkStyle =
    "color: #008000; text-decoration: underline; text-decoration-style: dotted; text-underline-style: dot-line";
// Background of the region that does not scroll.
inline constexpr const char* HelpNonScrollingBackground = "#ffffe8";

// The address (as links.topic gives it) a picture's hot spot jumps or pops up to; empty for a
// macro hot spot or one whose target the file does not hold.
QString helpHotspotAddress(const HelpFile& file, const HelpHotspot& spot, const HelpHtmlLinks& links);

// The topic's body (or the region's); a whole page (with head and title) when page is set, where
// the region that does not scroll stays at the top on its own background. Paragraphs carry their
// indents and spacing; each block's -qt-user-state is its paragraph's index in the topic, so a
// window can give the block its tab stops. Tables have borders only where the file asks. In a page a
// picture's hot spots are an image map whose areas lead where the text's links do.
QString helpTopicHtml(const HelpFile& file, const HelpTopic& topic, const HelpHtmlLinks& links, bool page = false,
                      HelpRegion region = HelpRegion::Whole);

// A page that opens the file in a browser: the file's title, every topic in
// file order and the keyword index; a keyword of several topics lists them all
// under "Nalezená témata". topic gives the address of a topic's page.
QString helpIndexHtml(const HelpFile& file, const std::function<QString(int order)>& topic);
