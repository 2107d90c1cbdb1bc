#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>

class QuorilAudioProcessor;

// The X/Y pad: "x_pos" left to right, "y_pos" top to bottom, so the four poles sit at its
// corners (A top left, B top right, C bottom left, D bottom right).
//
// A left-button drag sets both parameters inside host gestures. The pad also shows what the
// processor publishes: the trajectory's range and moving position while the trajectory is on, and
// the output level as a ring around the dot, a glow over a grid and a cloud of particles. A right
// click opens a menu that binds MIDI controllers to the two axes or removes those bindings; the
// press begins gestures as any press does, and they end when the menu closes.
//
// Everything runs on the message thread. The audio thread's values are read on a 50 ms timer,
// which also repaints the pad.
class QuorilPad : public juce::Component,
                  private juce::Timer
{
public:
    QuorilPad (juce::RangedAudioParameter& xParameter, juce::RangedAudioParameter& yParameter, QuorilAudioProcessor& p);
    ~QuorilPad() override;

    void mouseDown (const juce::MouseEvent& event) override;
    void mouseDrag (const juce::MouseEvent& event) override;
    void mouseUp (const juce::MouseEvent& event) override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    // One tick of the 50 ms timer: follows the published trajectory position and repaints
    // (public so that tests can run it without a message loop).
    void timerCallback() override;

    // The controller menu: item ids and their order.
    enum MenuItem
    {
        mapXItem = 1,
        mapYItem,
        clearXItem,
        clearYItem
    };

    // Builds the controller menu.
    juce::PopupMenu createControllerMenu() const;
    // Carries out the controller menu's item with this id; 0 (menu dismissed) and unknown ids do nothing.
    void performControllerMenuItem (int itemId);

    // True between the start of a gesture on both parameters and its end.
    bool isGestureOpen() const noexcept { return gestureOpen; }

    juce::Point<float> getDotPosition() const noexcept { return dotPosition; }
    juce::Point<float> getFollowerPosition() const noexcept { return followerPosition; }

    QuorilAudioProcessor& processor;

private:
    void onXParameterChanged (float value);
    void onYParameterChanged (float value);
    void beginGestures();
    void endGestures();
    void showControllerMenu();

    juce::ParameterAttachment xAttachment;
    juce::ParameterAttachment yAttachment;

    float dotRadius = 8.0f;
    juce::Point<float> dotPosition { 8.0f, 8.0f };
    float followerRadius = 4.0f;
    juce::Point<float> followerPosition { 4.0f, 4.0f };
    std::array<juce::Point<float>, 8> particles;
    juce::Random random;

    float padWidth = 1.0f, padHeight = 1.0f;
    float glowWidth = 1.0f, glowHeight = 1.0f;
    float particleScale = 1.0f;
    std::array<juce::Rectangle<float>, 12> gridRows;
    std::array<juce::Rectangle<float>, 12> gridColumns;
    bool needsInitialUpdate = true;

    bool gestureOpen = false;
    bool controllerMenuOpen = false;
    juce::ColourGradient glowGradient; // reused by every paint: only its points and colours change

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuorilPad)
};
