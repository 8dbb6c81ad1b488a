#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Ordel Toolkits team
# SPDX-License-Identifier: LicenseRef-proprietary

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: camera_facts
short_description: Lists the cameras that answer on the managed host's networks
description:
  - Runs C(ordelctl search --json) on the managed host, which broadcasts the discovery probe on
    every network the host is attached to, and returns each camera that answered.
  - With C(expect), also returns the cameras of an earlier search that did not answer this one.
    A missing camera does not fail the task; test C(missing) to make it do so.
  - Sets the fact C(ordel_cameras), the list C(cameras).
author: Ordel Toolkits team (@ordel)
options:
  timeout:
    description:
      - How long replies are taken after the probe, in milliseconds (C(ordelctl search --timeout)),
        from 1 to 600000.
      - C(ordelctl)'s own default, 2000, when left out.
    type: int
  expect:
    description:
      - A file on the managed host with the cameras that should answer, an earlier
        C(ordelctl search --json) or C(--csv) output (C(ordelctl search --expect)).
    type: path
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - ansible.builtin.action_common_attributes.facts
  - ordel.cameras.ordelctl
attributes:
  check_mode:
    support: full
    details: A search changes nothing, so it runs in check mode too.
  diff_mode:
    support: none
  facts:
    support: full
  platform:
    platforms: posix
'''

EXAMPLES = r'''
- name: List the cameras of each site
  ordel.cameras.camera_facts:

- name: Fail the play for a site where a camera of last week's list is silent
  ordel.cameras.camera_facts:
    expect: /var/lib/cameras/expected.json
    timeout: 3000
  register: search
  failed_when: search.missing | length > 0

- name: Show each camera's firmware
  ansible.builtin.debug:
    msg: "{{ item.ip }} runs {{ item.fw }}"
  loop: "{{ ordel_cameras }}"
'''

RETURN = r'''
cameras:
  description: Each camera that answered, as C(ordelctl search --json) prints it.
  returned: always
  type: list
  elements: dict
  contains:
    ip:
      description: The camera's IPv4 address.
      type: str
      sample: 198.51.100.11
    mac:
      description: Its MAC address.
      type: str
    sn:
      description: Its serial number.
      type: str
    name:
      description: Its device name.
      type: str
    type:
      description: Its camera type.
      type: str
    os:
      description: Its OS version.
      type: str
    fw:
      description: Its firmware version.
      type: str
      sample: 2.9.0
missing:
  description:
    - Each camera of C(expect) that did not answer, with the same keys and C(missing) true.
    - Empty without C(expect).
  returned: always
  type: list
  elements: dict
rc:
  description: The exit code of C(ordelctl); 1 when a camera is missing.
  returned: always
  type: int
'''

from ansible_collections.ordel.cameras.plugins.module_utils import ordelctl


OPTION_FLAGS = [('timeout', '--timeout'), ('expect', '--expect')]

RANGES = dict(timeout=(1, 600000))


def main():
    module = ordelctl.new_module(dict(timeout=dict(type='int'), expect=dict(type='path')),
                                 ranges=RANGES)

    options = ordelctl.option_args(module.params, OPTION_FLAGS)
    done = ordelctl.run(module, 'search', options)
    cameras = [item for item in done.objects if not item.get('missing')]
    missing = [item for item in done.objects if item.get('missing')]
    rc = done.rc
    # Exit code 1 is also a search that could not listen; only the missing
    # lines tell the two apart.
    if rc != ordelctl.EXIT_OK and not (rc == ordelctl.EXIT_FAILED and missing):
        done.fail(module, ordelctl.stderr_reason(rc, done.err), cameras=cameras, missing=missing)
    module.exit_json(changed=False, cameras=cameras, missing=missing, rc=rc,
                     ansible_facts=dict(ordel_cameras=cameras))


if __name__ == '__main__':
    main()
