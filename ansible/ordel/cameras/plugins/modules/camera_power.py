#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Ordel Toolkits team
# SPDX-License-Identifier: LicenseRef-proprietary

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: camera_power
short_description: Restarts or shuts down cameras on the managed host's networks
description:
  - Runs C(ordelctl restart --yes --json) or C(ordelctl shutdown --yes --json) on the managed host
    for the cameras given.
  - Every run sends the command, so the task always reports a change; it fails when the command
    could not be sent to a camera, naming each with C(ordelctl)'s reason.
  - In check mode sends nothing and reports the change it would make, once the executable is
    found and no address is one a run would refuse or fail, one not dotted IPv4 as C(ordelctl)
    reads it (a leading zero, a part over 255, C(0.0.0.0), C(255.255.255.255)), no camera's (0.x,
    loopback, multicast and above), or the managed host's own or its networks' broadcast, as
    C(ip) lists them.
author: Ordel Toolkits team (@ordel)
options:
  cameras:
    description: The addresses of the cameras.
    type: list
    elements: str
    required: true
  state:
    description:
      - C(restarted) restarts the cameras (C(ordelctl restart)), C(stopped) shuts them down
        (C(ordelctl shutdown)).
    type: str
    choices: [restarted, stopped]
    required: true
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - ordel.cameras.ordelctl
attributes:
  check_mode:
    support: full
    details: Finds the executable and refuses the addresses a run would, sends nothing, and reports
      changed.
  diff_mode:
    support: none
  platform:
    platforms: posix
'''

EXAMPLES = r'''
- name: Restart two cameras
  ordel.cameras.camera_power:
    cameras:
      - 198.51.100.11
      - 198.51.100.12
    state: restarted

- name: Shut down every camera the search found on this site
  ordel.cameras.camera_power:
    cameras: "{{ ordel_cameras | map(attribute='ip') | list }}"
    state: stopped
'''

RETURN = r'''
results:
  description:
    - One object a camera, as C(ordelctl restart --json) or C(shutdown --json) prints its final
      line, with keys C(ip), C(result) (C(sent), C(failed) or C(interrupted)), C(message) and
      C(seconds).
    - Empty in check mode.
  returned: always
  type: list
  elements: dict
  sample:
    - {"ip": "198.51.100.11", "result": "sent", "message": "sent on Ordel Tool_in/restart", "seconds": 0.2, "verified": false}
rc:
  description: The exit code of C(ordelctl).
  returned: unless in check mode
  type: int
'''

from ansible_collections.ordel.cameras.plugins.module_utils import ordelctl

COMMANDS = dict(restarted='restart', stopped='shutdown')


def main():
    module = ordelctl.new_module(dict(
        cameras=dict(type='list', elements='str', required=True),
        state=dict(type='str', choices=list(COMMANDS), required=True),
    ))
    if module.check_mode:
        # What a run would be refused for fails the check as well.
        ordelctl.executable_path(module)
        ordelctl.check_addresses(module, module.params['cameras'])
        module.exit_json(changed=True, results=[])

    done = ordelctl.run(module, COMMANDS[module.params['state']], ['--yes'], module.params['cameras'])
    results = ordelctl.with_key(done.objects, 'result')
    sent = ordelctl.addresses(results, 'result', ('sent',))
    names = ordelctl.named(results, 'result', ordelctl.FAILING_RESULTS)
    if names or done.rc != ordelctl.EXIT_OK:
        msg = 'cameras failed: ' + names if names else ordelctl.stderr_reason(done.rc, done.err)
        done.fail(module, msg, changed=bool(sent), results=results)
    module.exit_json(changed=bool(sent), results=results, rc=done.rc)


if __name__ == '__main__':
    main()
