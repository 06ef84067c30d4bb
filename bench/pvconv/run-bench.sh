#!/usr/bin/env bash
# Quality, size and speed benchmark of pvconv. Makes its own clips (espeak-ng
# speech, sox tones), encodes them at full and at variable rate, decodes them
# with ffmpeg and prints size, segmental SNR, log-spectral distance and speed
# per clip, then pvconv's peak memory on a 30-minute input.
#   [CLIPS=tune|report|real-tune|real] bench/pvconv/run-bench.sh [BUILD_DIR [BENCH OPTIONS...]]
# Two sets of clips: "tune" (the default), which the encoder's settings were chosen on, and
# "report", made the same way from other voices, texts, notes and decays, which they were
# not: the figures that count are the report set's. "real-tune" and "real" are real voice
# recordings from two Debian packages of telephone prompts, split the same way.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
shift $(( $# > 0 ? 1 : 0 ))
BENCH_OPTIONS=("$@") # passed on to pvconv_bench, e.g. --gamma2=0.5
for tool in ffmpeg sox espeak-ng; do
    command -v "$tool" >/dev/null || { echo "run-bench.sh: $tool is needed" >&2; exit 1; }
done
if [ ! -x "$build/bin/pvconv_bench" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target pvconv_bench pvconv >/dev/null

clips="$(mktemp -d)"
trap 'rm -rf "$clips"' EXIT

speak() { # name voice text...
    local name="$1" voice="$2"
    shift 2
    espeak-ng -v "$voice" -w "$clips/$name.22k.wav" "$*"
    sox "$clips/$name.22k.wav" -r 8000 -c 1 -b 16 "$clips/$name.wav"
    rm "$clips/$name.22k.wav"
}
# A synthesised sound from an ffmpeg expression of t (seconds), 8 kHz mono 16-bit.
synth() { # name seconds expression
    ffmpeg -nostdin -v error -f lavfi -i "aevalsrc='$3':s=8000:d=$2" -ac 1 -c:a pcm_s16le \
        "$clips/$1.wav"
}
# Speech over a room's pink noise at the given sox volume (0.002: about -60 dBFS).
noisy() { # name source noise-volume
    sox -n -r 8000 -c 1 -b 16 "$clips/room.wav" synth "$(soxi -D "$clips/$2.wav")" \
        pinknoise vol "$3"
    sox -m "$clips/$2.wav" "$clips/room.wav" -b 16 "$clips/$1.wav"
    rm "$clips/room.wav"
}
# A bell: inharmonic partials, each decaying exponentially, struck every period seconds.
bell() { # base-frequency decay-per-second period
    local f="$1" d="$2" p="$3" m="mod(t,$3)"
    echo "0.45*exp(-$d*$m)*sin(2*PI*$f*$m)+0.25*exp(-1.6*$d*$m)*sin(2*PI*$f*2.76*$m)+0.12*exp(-2.3*$d*$m)*sin(2*PI*$f*5.40*$m)+0.06*exp(-$d*$m/1.5)*sin(2*PI*$f*0.5*$m)"
}

case "${CLIPS:-tune}" in
tune)
    speak speech_en_us en-us "The quick brown fox jumps over the lazy dog. \
Speech coding squeezes a voice into a few kilobits per second, and a good \
coder keeps it clear enough to recognise the speaker."
    speak speech_en_gb en-gb "She sells sea shells by the sea shore. The birch canoe \
slid on the smooth planks. Glue the sheet to the dark blue background."
    speak speech_female en-us+f3 "It is easy to tell the depth of a well. These days \
a chicken leg is a rare dish. Rice is often served in round bowls."
    speak speech_slow en "Please call Stella. Ask her to bring these things with \
her from the store: six spoons of fresh snow peas, five thick slabs of blue cheese."
    # Short clips without pauses, as voice ringers are.
    speak speech_short_de de "Hallo, hier ist dein Telefon. Bitte geh ran!"
    speak speech_short_fr fr "Allez, décroche, c'est moi qui t'appelle."
    speak speech_short_es es "Contesta el teléfono, por favor."
    speak speech_short_m en-us+m3 "Pick up the phone, it's me."
    # A talker with natural pauses between phrases, over a quiet room noise
    # (about -60 dBFS) as a real recording has, so the pauses are not digital silence.
    espeak-ng -v en-gb -s 150 -g 12 -w "$clips/pauses.22k.wav" "Well, let me think. \
The train leaves at ten, I believe. Then again, it may be late. \
We shall see, shall we not? Anyway, bring a coat; it is cold out there."
    sox "$clips/pauses.22k.wav" -r 8000 -c 1 -b 16 "$clips/pauses.wav"
    rm "$clips/pauses.22k.wav"
    noisy speech_pauses pauses 0.002
    rm "$clips/pauses.wav"
    noisy speech_short_noisy speech_short_m 0.02
    # The en-us clip with a DC offset of 10 % of full scale; scored against the clean clip.
    sox "$clips/speech_en_us.wav" "$clips/speech_en_us_dc10.wav" dcshift 0.1

    sox -n -r 8000 -c 1 -b 16 "$clips/ring_tone_440.wav" synth 3 sine 440 vol 0.5
    sox -n -r 8000 -c 1 -b 16 "$clips/ring_chord_c_major.wav" synth 3 sine 261.63 \
        sine 329.63 sine 392 remix - vol 0.5
    sox -n -r 8000 -c 1 -b 16 "$clips/ring_sweep.wav" synth 3 sine 100-3500 vol 0.4
    synth ring_chime 4.5 "$(bell 880 3 1.5)"
    # Beeps with a quiet tone (30 dB down) between them.
    synth ring_alarm 3 "if(lt(mod(t,0.4),0.15),0.5*sin(2*PI*1000*t),0.016*sin(2*PI*500*t))"
    # Plucked notes of a tune, each ringing out.
    sox -n -r 8000 -c 1 -b 16 "$clips/ring_pluck.wav" synth 0.5 pluck C4 : synth 0.5 pluck E4 \
        : synth 0.5 pluck G4 : synth 1.5 pluck C5 vol 0.7
    # Noise-like sounds, not speech: hits that decay, a camera shutter, crumpled paper.
    synth ring_hihat 2 "0.3*exp(-25*mod(t,0.25))*(random(0)*2-1)"
    synth ring_snare 2 "0.5*exp(-6*mod(t,0.5))*(random(0)*2-1)"
    synth ring_shutter 1.5 "if(lt(mod(t,0.75),0.03),0.6*(random(0)*2-1),0.6*exp(-40*(mod(t,0.75)-0.03))*(random(0)*2-1))"
    synth ring_crumple 2 "0.4*(random(0)*2-1)*pow(abs(sin(2*PI*3*t)*sin(2*PI*7.3*t)),3)"
    ;;
report)
    speak speech_en_rp en-gb-x-rp "A large size in stockings is hard to sell. The boy was \
there when the sun rose. Wipe the grease off his dirty face."
    speak speech_female2 en-us+f2 "The juice of lemons makes fine punch. Four hours of steady \
work faced us. A rod is used to catch pink salmon."
    speak speech_short_it it "Rispondi, sono io. Ti chiamo dopo cena."
    speak speech_short_nl nl "Neem de telefoon op, alsjeblieft."
    speak speech_short_pt pt "Atenda o telefone, por favor."
    speak speech_short_f4 en+f4 "Your table is ready."
    speak speech_short_m7 en-us+m7 "Hey, it is me again, call me back."
    noisy speech_short_noisy2 speech_short_f4 0.03

    synth ring_chime2 6 "$(bell 660 2.2 2)"
    synth ring_chime_hi 4 "$(bell 1320 4 1)"
    synth ring_alarm2 3 "if(lt(mod(t,0.25),0.08),0.6*sin(2*PI*2400*t)*sin(2*PI*8*t),0.02*sin(2*PI*700*t))"
    sox -n -r 8000 -c 1 -b 16 "$clips/ring_pluck2.wav" synth 0.4 pluck A3 : synth 0.4 pluck D4 \
        : synth 0.4 pluck F4 : synth 0.4 pluck A4 : synth 2 pluck D5 vol 0.6
    sox -n -r 8000 -c 1 -b 16 "$clips/ring_tone_1k.wav" synth 2 sine 1000 vol 0.3
    # Noise-like sounds: a shaker, a typewriter, knocks, pops, applause, rain.
    synth ring_shaker 2 "0.4*exp(-60*mod(t,0.125))*(random(0)*2-1)"
    synth ring_typewriter 2.5 "if(lt(mod(t*7.7+0.3*sin(3*t),1),0.04),0.7*(random(0)*2-1)*exp(-80*mod(t*7.7+0.3*sin(3*t),1)/7.7),0)"
    synth ring_knock 2 "0.6*exp(-35*mod(t,0.4))*sin(2*PI*150*mod(t,0.4))+0.2*exp(-90*mod(t,0.4))*(random(0)*2-1)"
    synth ring_pops 2 "0.5*exp(-50*mod(t,0.3))*sin(2*PI*(400+2000*mod(t,0.3))*mod(t,0.3))"
    synth ring_applause 2.5 "0.35*(random(0)*2-1)*pow(abs(sin(2*PI*11.3*t)*sin(2*PI*13.7*t)),4)"
    synth ring_rain 3 "0.2*(random(0)*2-1)*(0.6+0.4*sin(2*PI*0.7*t))+if(lt(mod(t*5.3,1),0.01),0.5*(random(1)*2-1),0)"
    ;;
real-tune | real)
    # Real recordings: the voice prompts of Debian's asterisk-core-sounds-en-wav (English) and
    # asterisk-prompt-it-menardi-wav (Italian), 8 kHz. Every 40th prompt of 1.5 to 5 s, the
    # sorted lists taken at different offsets: English at 0 for tuning; English at 20 and
    # Italian at 5 for the report.
    sounds="${SOUNDS_DIR:-/usr/share/asterisk/sounds}"
    for voice in en_US_f_Allison it_IT_f_Menardi; do
        [ -d "$sounds/$voice" ] || {
            echo "run-bench.sh: $sounds/$voice is missing (apt-get install" \
                "asterisk-core-sounds-en-wav asterisk-prompt-it-menardi-wav)" >&2
            exit 1
        }
    done
    pick() { # voice offset prefix
        local i=0 f
        for f in $(find "$sounds/$1" -maxdepth 1 -name '*.wav' | LC_ALL=C sort); do
            awk -v d="$(soxi -D "$f")" 'BEGIN { exit !(d >= 1.5 && d <= 5.0) }' || continue
            if [ $((i % 40)) -eq "$2" ]; then
                sox "$f" -r 8000 -c 1 -b 16 "$clips/speech_$3_$(basename "$f")"
            fi
            i=$((i + 1))
        done
    }
    if [ "$CLIPS" = real-tune ]; then
        pick en_US_f_Allison 0 en
    else
        pick en_US_f_Allison 20 en
        pick it_IT_f_Menardi 5 it
    fi
    ;;
*) echo "run-bench.sh: CLIPS is tune, report, real-tune or real" >&2; exit 2 ;;
esac

"$build/bin/pvconv_bench" --memory="$build/bin/pvconv" "${BENCH_OPTIONS[@]}" "$clips"/*.wav
# Speed over all clips together, five rounds: the median and the range.
"$build/bin/pvconv_bench" --speed=5 "${BENCH_OPTIONS[@]}" "$clips"/*.wav
if [ -n "${KEEP_CLIPS:-}" ]; then mkdir -p "$KEEP_CLIPS"; cp "$clips"/*.wav "$KEEP_CLIPS"/; fi
