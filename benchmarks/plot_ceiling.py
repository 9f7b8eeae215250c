#!/usr/bin/python3
"""Draws benchmarks/ceiling.png from the measured runs in benchmarks/ceiling_data.json (rows as
benchmarks/transfer_ceiling.sh writes them): time from click to arrival and the viewer's peak
private bytes against the number of elements, for the plain and the large-address-aware viewer;
updates that did not arrive are marked with a cross.

    benchmarks/plot_ceiling.py [DATA.json] [OUT.png]   (Debian's python3 with python3-matplotlib)
"""
import json
import os
import sys

import matplotlib
matplotlib.use('Agg')
import matplotlib.pyplot as plt  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
LABELS = {'plain': 'plain 32-bit viewer', 'laa': 'large-address-aware viewer'}
COLOURS = {'plain': 'tab:blue', 'laa': 'tab:orange'}


def main():
    data_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, 'ceiling_data.json')
    out_path = sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, 'ceiling.png')
    with open(data_path, encoding='utf-8') as f:
        data = json.load(f)
    runs = data['runs']
    fig, (t_ax, m_ax) = plt.subplots(1, 2, figsize=(12, 4.8))
    for variant in ('plain', 'laa'):
        rows = sorted((r for r in runs if r['viewer'] == variant), key=lambda r: r['elements'])
        if not rows:
            continue
        ok = [r for r in rows if r['arrived_whole']]
        failed = [r for r in rows if not r['arrived_whole']]
        colour = COLOURS[variant]
        timed = [r for r in ok if r['click_to_arrival_ms'] is not None]  # early runs were not timed
        t_ax.plot([r['elements'] for r in timed], [r['click_to_arrival_ms'] / 1000.0 for r in timed], 'o-',
                  color=colour, label=LABELS[variant])
        m_ax.plot([r['elements'] for r in ok], [r['peak_private_bytes'] / 1e6 for r in ok], 'o-', color=colour,
                  label=LABELS[variant] + ': arrived')
        if failed:
            m_ax.plot([r['elements'] for r in failed], [r['peak_private_bytes'] / 1e6 for r in failed], 'x',
                      color=colour, markersize=10, mew=2, label=LABELS[variant] + ': did not arrive')
            for r in failed:
                t_ax.axvline(r['elements'], color=colour, linestyle=':', linewidth=1)
        if ok:
            ceiling = ok[-1]['elements']
            for ax in (t_ax, m_ax):
                ax.axvline(ceiling, color=colour, linestyle='--', linewidth=1)
    t_ax.set_title('Button click to arrival at the monitor\n(under Wine, emulated guest: about 10x native)')
    t_ax.set_xlabel('elements in the model (12,336 bytes each)')
    t_ax.set_ylabel('seconds')
    m_ax.set_title("Viewer's peak private bytes during the click")
    m_ax.set_xlabel('elements in the model (12,336 bytes each)')
    m_ax.set_ylabel('MB')
    for ax in (t_ax, m_ax):
        ax.grid(True, alpha=0.3)
        ax.legend(fontsize=8, loc='upper left')
    note = data.get('note')
    if note:
        fig.text(0.5, 0.005, note, ha='center', fontsize=8)
    fig.tight_layout(rect=(0, 0.04, 1, 1))
    fig.savefig(out_path, dpi=100)
    print(out_path)


if __name__ == '__main__':
    main()
